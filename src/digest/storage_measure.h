// What the run's own reads tell of the storage. The kind a device says it
// is (a rotational flag, a seek-penalty property) is only a hint: virtual
// disks, network volumes and bridges say either. So the first reads that
// wait for the device are timed, and the run reads on as the device
// behaves: a device whose reads take milliseconds and come no faster with
// two in flight is read as a spinning disk, one file at a time in disk
// order; one that answers in under that, or serves two reads in about the
// time of one, is read by every lane at once.
//
// The first reads of files are what counts (they are where a spinning disk
// seeks; the reads after them are near, in the kernel's read-ahead). While
// the measure lasts, every lane reads as soon as it finds its data not in
// memory, so that each worker has one read in flight: reads alone and
// reads side by side come as they come, and each is sorted by how many
// were in flight. MeasuredFirstReads of one kind that are fast settle it;
// slow reads alone wait for as many side by side, to tell a spinning disk
// from storage that is slow but serves reads side by side. FewFirstReads
// that are fast side by side settle it sooner; a tree of few files is
// judged on MeasuredReads reads of any kind, and one with fewer keeps the
// guess.
#ifndef DORVANE_DIGEST_STORAGE_MEASURE_H_
#define DORVANE_DIGEST_STORAGE_MEASURE_H_

#include <cstddef>
#include <cstdint>

#include "platform/storage.h"

constexpr unsigned MeasuredFirstReads = 8;
// So many first reads with another in flight, half of them under a seek,
// are enough to call the device solid.
constexpr unsigned FewFirstReads = 3;
constexpr unsigned MeasuredReads = 32;
// A read that waits this long, as the median, costs what a seek costs: a
// spinning disk's first read of a file takes 4 ms and more (half a turn at
// 7,200 rpm alone is 4.2 ms), a solid disk's well under 1 ms even for its
// largest read-ahead.
constexpr std::uint32_t SeekMicros = 2000;
// Two reads in flight that each take no more than this share of a read
// alone are served side by side (a striped set, a network volume).
constexpr unsigned SideBySidePercent = 150;

// One read that waited for the device.
struct DiskRead {
  std::uint32_t micros;   // how long it took
  std::uint8_t in_flight; // reads of the run waiting for the device, itself among them
  bool first;             // the first read of its file
};

// The reads measured so far and what they say.
struct StorageMeasure {
  DiskRead reads[2 * MeasuredReads];
  unsigned count;
  bool decided;
  StorageKind guess;    // what the system said
  StorageKind verdict;  // once decided
  std::uint32_t alone_micros;     // median of the reads alone; 0 for none
  std::uint32_t together_micros;  // of those with others in flight; 0 for none
  unsigned most_in_flight;
};

// A measure that starts from the system's guess.
void StartStorageMeasure(StorageMeasure* measure, StorageKind guess);
// Adds what a read took and decides as soon as the reads allow; can_pair
// says whether the run has two workers to put two reads in flight, without
// which slow reads alone decide. Returns whether it has decided.
bool AddDiskRead(StorageMeasure* measure, const DiskRead& read, bool can_pair);

// Room for what DescribeStorageMeasure writes.
constexpr std::size_t StorageTextSize = 160;

// "rotational" or "solid" or "unknown".
const char* StorageKindName(StorageKind kind);
// For people: the kind read by, why, and what was measured, e.g.
// "solid (the device says rotational; measured 0.3 ms reads alone, 0.4 ms
// with 2 in flight)". Returns the length written.
std::size_t DescribeStorageMeasure(const StorageMeasure& measure, bool forced, char* text,
                                   std::size_t size);

#endif  // DORVANE_DIGEST_STORAGE_MEASURE_H_
