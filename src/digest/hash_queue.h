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
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "digest/md5.h"
#include "digest/lane_scheduler.h"
#include "digest/md5_lanes.h"
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
};

// The kernel (ChooseMd5LaneKernel), its split (MeasureLaneSplit) and the
// thread count: DORVANE_THREADS
// when it holds a number from 1 to MaxHashThreads, else the processors
// this process may use (no more than MaxHashThreads). The storage is left
// unknown: it depends on the tree, which the caller asks FindStorage about.
HashPlan ChooseHashPlan();

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

enum class JobState : unsigned char { Queued, Claimed, Done };

struct HashJob {
  char path[HashPathSize];
  std::uint64_t path_hash;  // tells paths apart quickly (see in_flight)
  std::uint64_t place;  // where it lies on the disk; 0 when not asked
  DWORD open_flags;
  JobState state;
  HashNote note;
  HashResult result;
};

struct HashWorker;

// Called on the caller's thread, away from the queue's lock.
using HashWaitHook = void (*)(void* context);

// Tickets count up from 0; job t lives in jobs[t % HashQueueSize]. oldest
// and end belong to the caller's thread, which changes end under the lock;
// the rest is shared under the lock, but a claimed job, which belongs to
// its worker until it is done.
struct HashQueue {
  HashPlan plan;
  std::mutex mutex;
  std::condition_variable work;     // for workers: files queued, handles freed, stop
  std::condition_variable results;  // for the caller: the oldest file done
  unsigned oldest;
  unsigned end;
  unsigned next_claim;   // the oldest file no worker has claimed
  // Kept at once by the thread that opens or closes, so that no worker
  // gives up on a handle while another holds one it has not told of yet.
  std::atomic<unsigned> open_files;  // files the workers hold open
  std::atomic<unsigned> releases;    // handles closed so far by the run
  // Bytes read from the files so far: a relaxed add per read by whoever
  // reads, a relaxed load by whoever shows it.
  std::atomic<std::uint64_t> bytes_read;
  bool stopping;
  // Data was found not to be in memory: files are queued with their place
  // and claimed in place order from then on. Set once, by a worker; read
  // by the caller's thread without the lock.
  std::atomic<bool> cold;
  int turn_owner;        // the worker reading from the disk; -1 for none
  // The caller's own, set before it waits: no other thread reads them.
  HashWaitHook wait_hook;  // may be null
  void* wait_context;
  // The caller's own too: files queued since the workers were last woken,
  // and when the first of them was. Waking a worker for every file costs
  // two system calls a file when the workers are faster than the walk.
  unsigned unwoken;
  std::chrono::steady_clock::time_point unwoken_since;
  // Lanes and callers that wait for a handle, under the lock: a close
  // wakes the workers only when someone waits for one.
  unsigned handle_waiters;
  // The path hashes of the files claimed and not done: a file queued twice
  // (a list that names it twice) is claimed again only once the first is
  // done, as one thread would hash them. On Windows a second open of a file
  // held without sharing would fail.
  unsigned in_flight_count;
  std::uint64_t in_flight[MaxHashThreads * Md5MaxLanes];
  unsigned threads_wanted;  // the plan's thread count, which may not all start
  unsigned worker_count;
  HashWorker* workers[MaxHashThreads];
  std::thread threads[MaxHashThreads];
  HashJob jobs[HashQueueSize];
};

// A queue and its workers for plan; nullptr when the memory for the queue
// and one worker cannot be had. Of the threads the plan asks for, those
// the system starts and has memory for run (plan.threads then tells how
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

#endif  // DORVANE_DIGEST_HASH_QUEUE_H_
