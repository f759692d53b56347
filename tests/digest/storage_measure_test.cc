// The storage measure against recorded reads: what each kind of device's
// first reads look like, and what the run must read it as.
#include "digest/storage_measure.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// count reads of the given time, in flight and kind.
struct Reads {
  unsigned count;
  std::uint32_t micros;
  std::uint8_t in_flight;
  bool first;
};

struct Device {
  const char* name;
  StorageKind guess;
  bool can_pair;
  std::vector<Reads> reads;  // in the order they come, round after round
  bool decided;
  StorageKind kind;
  unsigned reads_to_decide;  // 0: not checked
};

// Reads as they come from two workers: one alone, then one with the other
// in flight, rounds of them.
std::vector<Reads> Alternating(unsigned rounds, std::uint32_t alone, std::uint32_t together) {
  std::vector<Reads> reads;
  for (unsigned i = 0; i < rounds; ++i) {
    reads.push_back({1, alone, 1, true});
    reads.push_back({1, together, 2, true});
  }
  return reads;
}

TEST(StorageMeasure, JudgesEachDeviceByItsReads) {
  const Device devices[] = {
      // This machine's virtual disk, which says it spins.
      {"virtio disk", StorageRotational, true, Alternating(8, 90, 130), true, StorageSolid, 0},
      {"nvme, one worker", StorageSolid, false, {{8, 70, 1, true}}, true, StorageSolid, 8},
      // A 7,200-rpm disk: a seek and half a turn per file, and two reads in
      // flight take twice as long each.
      {"7200 rpm disk", StorageRotational, true, Alternating(8, 8300, 16900), true,
       StorageRotational, 16},
      {"7200 rpm disk, one worker", StorageUnknown, false, {{8, 9100, 1, true}}, true,
       StorageRotational, 8},
      // A network volume: slow reads, but two take no longer than one.
      {"network volume", StorageRotational, true, Alternating(8, 3100, 3400), true, StorageSolid,
       16},
      // A spinning disk behind a bridge that says it is solid.
      {"usb bridge", StorageSolid, true, Alternating(8, 12000, 23000), true, StorageRotational, 0},
      // Eight large files: a few first reads, a few that wait in them.
      {"few large files", StorageRotational, true,
       {{1, 1300, 2, true}, {1, 910, 2, true}, {1, 1150, 2, true}}, true, StorageSolid, 3},
      {"two files", StorageRotational, true, {{2, 700, 1, true}}, false, StorageRotational, 0},
      // A large file's reads within it on a spinning disk, the run with one
      // file: judged on those once there are enough.
      {"one large file", StorageRotational, false,
       {{1, 9000, 1, true}, {MeasuredReads, 2600, 1, false}}, true, StorageRotational, 0},
      // Slow reads alone that never meet another in flight: judged when the
      // room is full.
      {"never two in flight", StorageUnknown, true, {{2 * MeasuredReads, 7000, 1, true}}, true,
       StorageRotational, 2 * MeasuredReads},
      // A disk reads the first files from its cache, one at a time, then
      // seeks.
      {"seeks after cache hits", StorageRotational, false,
       {{3, 300, 1, true}, {6, 8000, 1, true}}, true, StorageRotational, 8},
  };
  for (const Device& device : devices) {
    StorageMeasure measure;
    StartStorageMeasure(&measure, device.guess);
    unsigned added = 0;
    bool decided = false;
    for (const Reads& reads : device.reads) {
      for (unsigned i = 0; i < reads.count && !decided; ++i) {
        ++added;
        decided = AddDiskRead(&measure, DiskRead{reads.micros, reads.in_flight, reads.first},
                              device.can_pair);
      }
    }
    EXPECT_EQ(decided, device.decided) << device.name;
    EXPECT_EQ(measure.verdict, device.kind) << device.name;
    if (device.reads_to_decide != 0) {
      EXPECT_EQ(added, device.reads_to_decide) << device.name;
    }
  }
}

TEST(StorageMeasure, SaysWhatItMeasured) {
  StorageMeasure measure;
  StartStorageMeasure(&measure, StorageRotational);
  char text[StorageTextSize];
  DescribeStorageMeasure(measure, true, text, sizeof text);
  EXPECT_STREQ(text, "rotational (DORVANE_STORAGE)");
  AddDiskRead(&measure, DiskRead{300, 1, true}, true);
  DescribeStorageMeasure(measure, false, text, sizeof text);
  EXPECT_STREQ(text, "not judged (the system says rotational; 1 read waited for the device, "
                     "too few to judge by)");
  for (const Reads& reads : Alternating(8, 300, 420)) {
    AddDiskRead(&measure, DiskRead{reads.micros, reads.in_flight, reads.first}, true);
  }
  DescribeStorageMeasure(measure, false, text, sizeof text);
  EXPECT_STREQ(text, "solid (the system says rotational; measured reads of 0.30 ms alone, "
                     "0.42 ms with up to 2 in flight)");
  // Cut to the room, ended all the same.
  EXPECT_EQ(DescribeStorageMeasure(measure, false, text, 12), 11u);
  EXPECT_EQ(std::string(text), "solid (the ");
}

}  // namespace
