// One hashing worker: a lane of an MD5 lane kernel for each file it has
// claimed from the queue (hash_queue.h). The worker's state is its own; what
// it shares with the queue and the other workers goes through the queue's
// functions for workers. Each file is hashed exactly as
// HashFile does it (file_feeder.h), but the whole blocks of all its files
// go through one kernel call (lane_scheduler.h).
//
// A worker runs in steps, away from the queue's lock: open the files just
// claimed, read where a lane has hashed what it had, run the kernel, and
// finish the files that ended. Between steps, under the lock, it settles
// with the queue: hands over the results, counts the handles it holds and
// freed, decides about opens that wait for a handle, takes or hands back
// the disk's turn, and claims files for its free lanes.
//
// The storage is the queue's (storage_measure.h): the worker follows it at
// each settling, and times the reads that wait for the device while the
// queue measures. Where the device serves reads side by side and the data
// is not in memory, each file is asked ahead as it is opened, so that the
// reads of all lanes are in flight at once.
//
// On a rotational disk a lane reads only what is in memory already
// (ReadFileIfCached). A lane whose next bytes are not waits for the disk's
// turn: one lane of the whole run at a time reads from the disk, its file
// to the end, while the other lanes hash what is in memory. The worker
// holding the turn reads its waiting files in the order they lie on the
// disk, and files are claimed in that order too once the disk has shown
// (see HashQueue::cold): a seek between files at most, none within one.
#ifndef DORVANE_DIGEST_HASH_LANES_H_
#define DORVANE_DIGEST_HASH_LANES_H_

#include <chrono>

#include "digest/file_feeder.h"
#include "digest/hash_queue.h"
#include "digest/lane_scheduler.h"

enum class LaneState : unsigned char {
  Free,
  Opening,           // claimed; to be opened in the next step
  Hashing,           // its file is open
  WaitingForHandle,  // the open failed for lack of handles, or for sharing
  WaitingForStorage, // its next bytes are on the disk: it waits for the turn
};

struct WorkerLane {
  LaneState state;
  unsigned ticket;     // the lane's file, while the lane is not free
  const char* path;    // as queued; the queue keeps it while it is claimed
  DWORD open_flags;
  DWORD wait_error;    // what the waiting open failed with
  unsigned releases_seen;  // the run's closes when the open was tried
  bool waited;         // an open of the lane's file has failed and waited
  bool last_try;       // tried again with nothing of the run's left to close
  std::chrono::steady_clock::time_point tried_at;
  std::chrono::steady_clock::time_point waiting_since;
  bool read_short;     // the last read met the file's end
  bool started;        // bytes of its file have been read
  std::uint64_t place; // where its file lies on the disk
  FileFeed feed;
};

// Reads a step may time: each lane reads at most twice in one.
constexpr unsigned WorkerDiskReads = 2 * Md5MaxLanes;

struct HashWorker {
  LaneSchedule schedule;
  StorageKind storage;      // as the queue last said
  bool measuring;           // reads that wait for the device are timed
  bool cold;                // the data has shown not to be all in memory
  bool cannot_tell;         // the system cannot read only what is in memory
  bool can_ask_cache;       // the system says what is in memory (QueryCachedBytes)
  bool read_ahead;          // files opened are asked ahead
  unsigned disk_read_count; // reads timed since the last settling
  DiskRead disk_reads[WorkerDiskReads];
  unsigned held;            // files open now
  unsigned closed;          // files closed since the last settling
  unsigned done_count;      // files finished since the queue last heard
  unsigned done[Md5MaxLanes];           // their tickets
  HashResult outcomes[Md5MaxLanes];     // and their results
  bool opens_held;          // finish the open files, claim no others
  bool counted_waiting;     // counted in the queue's handle_waiters
  int index;                // the worker's number in the queue
  int turn_lane;            // the lane reading from the disk; -1 for none
  WorkerLane lanes[Md5MaxLanes];
};

// A worker for the plan's kernel and split, with every lane free; nullptr
// without memory (it takes a couple of megabytes).
HashWorker* NewHashWorker(const HashPlan& plan, int index);
// Closes the files still open and frees the worker.
void FreeHashWorker(HashWorker* worker);

// Under the queue's lock: hands over what the last step finished, retries
// or gives up waiting opens, and claims files for free lanes.
void SettleWorker(HashQueue* queue, HashWorker* worker);
// Away from the lock: one step over the worker's lanes. Returns false when
// there was nothing to do.
bool StepWorker(HashQueue* queue, HashWorker* worker);
// Whether a step has work: a lane to open or a file open.
bool WorkerHasWork(const HashWorker* worker);
// Whether a lane waits for a handle.
bool WorkerWaits(const HashWorker* worker);
// Whether the worker holds a file open.
bool WorkerHoldsFiles(const HashWorker* worker);
// While held, the worker finishes the files it holds and claims no others.
void HoldWorkerOpens(HashWorker* worker, bool held);

#endif  // DORVANE_DIGEST_HASH_LANES_H_
