// The ordered queue between the one thread that finds files (the walk, or
// the list reader) and writes their results, and the hashing workers.
//
// Files are queued with a note of the caller's and taken back, with their
// results, in the order queued. Workers claim queued files in that order,
// each for a lane of its own (hash_lanes.h), and hand each result back
// through the queue. With one thread there are no workers: the caller's
// thread hashes while it waits for a result, and the program does what it
// did before it had threads.
//
// The workers count the bytes they read, all files together, for a status
// line to show while a large file is read; the caller's thread, which
// blocks while it waits for a result, may be given a hook to call now and
// then meanwhile, to draw that line.
//
// An open that fails for lack of handles waits while the run holds other
// files that will be closed, and is tried again after each close; with
// nothing of the run's left to close it is tried every few milliseconds,
// for HandleWaitLimit, for something outside the run may release one. A
// file that still cannot be opened then gets a result with no_handle set:
// the run cannot go on.
#ifndef DORVANE_DIGEST_HASH_QUEUE_H_
#define DORVANE_DIGEST_HASH_QUEUE_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "digest/md5.h"
#include "digest/lane_scheduler.h"
#include "digest/md5_lanes.h"
#include "digest/storage_measure.h"
#include "platform/storage.h"
#include "platform/win32.h"

// Files queued ahead of the oldest one whose result is still to be taken:
// enough to keep every lane of every worker busy with small files while a
// large one is hashed; each costs about a kilobyte.
constexpr unsigned HashQueueSize = 1024;
// Room for a queued path and its NUL.
constexpr unsigned HashPathSize = 1024;
constexpr unsigned MaxHashThreads = 64;
// The environment variable that sets the number of hashing threads.
constexpr char HashThreadsVariable[] = "DORVANE_THREADS";
// The one that tells the storage ("rotational" or "solid") instead of the
// system (FindStorage).
constexpr char StorageVariable[] = "DORVANE_STORAGE";
constexpr std::chrono::milliseconds HandleRetryInterval{5};
constexpr std::chrono::seconds HandleWaitLimit{5};
constexpr std::chrono::milliseconds ResultPollInterval{20};
// Files queued before the workers are woken for them, unless the first
// has waited WakeDelay or the caller is about to wait itself.
constexpr unsigned WakeBatch = 8;
constexpr std::chrono::milliseconds WakeDelay{1};

// How the run hashes: chosen once, at start.
struct HashPlan {
  const Md5LaneKernel* kernel;
  unsigned threads;  // 1: the caller's thread hashes; more: that many workers
  // Where the files lie. On a rotational disk, data not yet in memory is
  // read one file at a time, in the order the files lie on the disk, while
  // the lanes hash whatever is in memory (see hash_lanes.h).
  StorageKind storage;
  // Which lanes go through the scalar chains when few are busy; all zero
  // (as a plan written out without it has): the kernel alone.
  LaneSplit split;
  // storage is the system's guess, to be checked against the run's first
  // reads that wait for the device (storage_measure.h); false when it was
  // named, and for a plan written out without it.
  bool measure_storage = false;
};

// The kernel (ChooseMd5LaneKernel), its split (MeasureLaneSplit) and the
// thread count: DORVANE_THREADS when it holds a number from 1 to
// MaxHashThreads, else the processors this process may use (no more than
// MaxHashThreads). The storage is the
// one DORVANE_STORAGE names, else unknown: it depends on the tree, which
// the caller asks FindStorage about (PlanForTree). The environment is read
// here only: call it once, at start.
HashPlan ChooseHashPlan();
// The plan for the tree below the current directory: the storage named at
// start, else what FindStorage tells of ".", to be measured.
HashPlan PlanForTree(const HashPlan& plan);

// What the caller keeps with a queued file and gets back with its result.
struct HashNote {
  std::uint64_t size;          // the size the listing gave, or the list
  unsigned name_offset;        // the walk: where the name starts in the path
  bool line_only;              // the walk: a line with no file to hash
  char digest[HexDigestSize];  // the verifier: the digest listed
};

// Why a file has no digest.
enum class HashFailure : unsigned char {
  None,
  Open,     // it could not be opened: error tells why
  Read,     // a read failed part way
  Changed,  // it changed while it was read
  Refused,  // queued refused, never opened
};

struct HashResult {
  const char* path;        // as queued; valid until the next file is queued
  const HashNote* note;    // as queued; valid as long
  bool ok;                 // the digest was computed
  bool no_handle;          // not opened: handles ran out for good
  HashFailure failure;     // None when ok
  DWORD error;             // the open's error (GetLastError's) for Open
  char hex[HexDigestSize];     // empty when not ok
  std::uint64_t hashed_size;   // the size the digest covers; 0 when not ok
};

// The queue's state is its own (hash_queue.cc): callers and workers go
// through the functions below.
struct HashQueue;

// Called on the caller's thread, away from the queue's lock.
using HashWaitHook = void (*)(void* context);

// A queue and its workers for plan; nullptr when the memory for the queue
// and one worker cannot be had. Of the threads the plan asks for, those
// the system starts and has memory for run (HashThreadsStarted tells how
// many); with fewer than two the caller's thread hashes, as with one.
HashQueue* StartHashQueue(const HashPlan& plan);
// Stops the workers, closes every file still open and frees the queue; for
// a run that ends or stops before taking every result.
void EndHashQueue(HashQueue* queue);

// Whether another file can be queued.
bool HashQueueFull(const HashQueue* queue);
// Whether no result is waiting to be taken.
bool HashQueueEmpty(const HashQueue* queue);
// The ticket of the oldest file whose result is still to be taken.
unsigned OldestHashTicket(const HashQueue* queue);

// Queues the file at path with the caller's note and returns its ticket. A
// path of HashPathSize characters or more (the walk's and the verifier's
// never are) is not opened: it fails with ERROR_FILENAME_EXCED_RANGE, its
// first HashPathSize - 1 bytes kept as its path. The queue must not be full. open_flags go to CreateFileA
// beside FILE_ATTRIBUTE_NORMAL; the open refuses anything but a regular
// file (opening a FIFO or a device is an action of its own).
unsigned QueueFileToHash(HashQueue* queue, const char* path, DWORD open_flags,
                         const HashNote& note);
// Queues an entry that is never opened: a line of the caller's own
// (note.line_only), or a file refused beforehand, which fails.
unsigned QueueRefusedFile(HashQueue* queue, const char* path, const HashNote& note);

// Waits until the oldest queued file has its result (hashing it on the
// caller's thread when there are no workers), hands the result out and
// takes the file off the queue. The queue must not be empty. While it
// waits it calls the wait hook, if one is set: at least every
// ResultPollInterval, and between the steps of hashing on the caller's
// thread.
void TakeHashResult(HashQueue* queue, HashResult* result);

// Sets the hook TakeHashResult calls while it waits (nullptr: none).
void SetHashWaitHook(HashQueue* queue, HashWaitHook hook, void* context);

// For a caller whose own open failed for lack of handles: waits until the
// run has closed a handle since *releases, or HandleRetryInterval has
// passed (hashing the open files to their ends meanwhile when there are no
// workers). Returns false once *since lies HandleWaitLimit back and the
// run holds no file that it could close; *releases and *since start at 0
// and the time of the first failure.
bool WaitForHandle(HashQueue* queue, unsigned* releases,
                   std::chrono::steady_clock::time_point since);
// Tells the workers that the caller closed a handle of its own.
void ReleaseHandle(HashQueue* queue);

// With no workers: one step of hashing on the caller's thread. Returns
// false when there was nothing to do. For tests that change files between
// steps.
bool AdvanceHashing(HashQueue* queue);

// What a status line shows: the bytes read so far by the whole run, and
// the hashing threads asked for and started.
const std::atomic<std::uint64_t>* HashBytesRead(const HashQueue* queue);
unsigned HashThreadsWanted(const HashQueue* queue);
unsigned HashThreadsStarted(const HashQueue* queue);
// For people: the storage the run reads as, and why (DescribeStorageMeasure);
// empty when no read of the run waited for the device and the kind was not
// named. Returns the length.
std::size_t DescribeHashStorage(HashQueue* queue, char* text, std::size_t size);

// For the workers (hash_lanes.cc). Those that settle are called under the
// queue's lock, as SettleWorker is; the counts of handles and bytes are
// atomic and called from anywhere.

// A file claimed for a lane: its path stays put until its result is taken.
struct ClaimedFile {
  unsigned ticket;
  const char* path;
  DWORD open_flags;
  std::uint64_t place;
};

// Claims files for a worker that holds held files and has room lanes free:
// its fair share of those waiting, in queue order, or in place order once
// the disk has shown. Returns how many were put in claims. A file queued
// twice is not claimed while its twin is being hashed.
unsigned ClaimQueuedFiles(HashQueue* queue, unsigned held, unsigned room,
                          ClaimedFile* claims);
// Hands in the results of count files, by their tickets.
void HandBackResults(HashQueue* queue, const unsigned* tickets,
                     const HashResult* results, unsigned count);
bool HashQueueStopping(const HashQueue* queue);
// The disk's turn (hash_lanes.h): taken when free or held by worker, handed
// back when the worker has no file waiting for it.
bool TakeDiskTurn(HashQueue* queue, int worker);
void HandBackDiskTurn(HashQueue* queue, int worker);
// A worker starts or stops having lanes that wait for a handle; closes wake
// the workers only while one does.
void CountHandleWaiter(HashQueue* queue, bool waits);
void WakeHandleWaiters(HashQueue* queue);
// Anywhere: files opened and closed, the closes so far, whether the run
// holds a file, bytes read, data found not in memory.
void NoteFileOpened(HashQueue* queue);
void NoteFileClosed(HashQueue* queue);
unsigned HandleReleases(const HashQueue* queue);
bool RunHoldsFiles(const HashQueue* queue);
void CountBytesRead(HashQueue* queue, std::uint64_t bytes);
void NoteStorageShowed(HashQueue* queue);
// Under the lock: the storage as the run reads it now, whether reads that
// wait for the device are still to be timed, whether data has shown not to
// be in memory (NoteStorageShowed), and whether the files opened
// should be asked ahead (the device serves reads side by side and the data
// is not all in memory).
StorageKind HashStorage(const HashQueue* queue);
bool MeasuringStorage(const HashQueue* queue);
bool StorageShowed(const HashQueue* queue);
bool ReadAheadWanted(const HashQueue* queue);
// Anywhere, around a read that waits for the device: the run's reads in
// flight as it begins, and as it begins or ends, whichever is more (with
// itself).
unsigned BeginDiskRead(HashQueue* queue);
unsigned EndDiskRead(HashQueue* queue, unsigned in_flight);
// Under the lock: reads a worker timed, for the measure.
void HandInDiskReads(HashQueue* queue, const DiskRead* reads, unsigned count);

#endif  // DORVANE_DIGEST_HASH_QUEUE_H_
