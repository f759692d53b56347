// The ordered queue, its workers, and the choice of the thread count.
#include "digest/hash_queue.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include "digest/hash_lanes.h"
#include "platform/process.h"

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
  // and claimed in place order from then on (on any storage: an order that
  // follows the disk never costs), and where the storage serves reads side
  // by side they are asked ahead as they are opened. Set once, by a worker;
  // read by the caller's thread without the lock.
  std::atomic<bool> cold;
  // The storage the run reads as: the plan's guess until the measure
  // decides. Changed under the lock; the caller's thread reads it without.
  std::atomic<StorageKind> storage;
  StorageMeasure measure;  // under the lock
  // The reads of the run waiting for the device.
  std::atomic<unsigned> disk_reads;
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

static_assert(HashPathSize == HashPathLimit + 1, "the queue holds every path the hashing takes");

namespace {

using Clock = std::chrono::steady_clock;

HashJob& JobOf(HashQueue* queue, unsigned ticket) {
  return queue->jobs[ticket % HashQueueSize];
}

const HashJob& JobOf(const HashQueue* queue, unsigned ticket) {
  return queue->jobs[ticket % HashQueueSize];
}

// The queued file that lies first on the disk, among those not claimed.
unsigned FirstQueuedByPlace(const HashQueue* queue) {
  unsigned first = queue->end;
  for (unsigned ticket = queue->next_claim; ticket != queue->end; ++ticket) {
    const HashJob& job = JobOf(queue, ticket);
    if (job.state != JobState::Queued) continue;
    if (first == queue->end || job.place < JobOf(queue, first).place) first = ticket;
  }
  return first;
}

bool InFlight(const HashQueue* queue, std::uint64_t hash) {
  for (unsigned i = 0; i < queue->in_flight_count; ++i) {
    if (queue->in_flight[i] == hash) return true;
  }
  return false;
}

void LeaveFlight(HashQueue* queue, std::uint64_t hash) {
  for (unsigned i = 0; i < queue->in_flight_count; ++i) {
    if (queue->in_flight[i] != hash) continue;
    queue->in_flight[i] = queue->in_flight[--queue->in_flight_count];
    return;
  }
}

// Moves next_claim past the files claimed out of order or done at queueing.
void SkipClaimedFiles(HashQueue* queue) {
  while (queue->next_claim != queue->end &&
         JobOf(queue, queue->next_claim).state != JobState::Queued) {
    ++queue->next_claim;
  }
}

// A worker thread's life: steps and settles until the queue stops.
void RunHashWorker(HashQueue* queue, HashWorker* worker) {
  std::unique_lock<std::mutex> lock(queue->mutex);
  for (;;) {
    SettleWorker(queue, worker);
    if (queue->stopping) break;
    if (WorkerHasWork(worker)) {
      lock.unlock();
      StepWorker(queue, worker);
      lock.lock();
    } else if (WorkerWaits(worker)) {
      queue->work.wait_for(lock, HandleRetryInterval);
    } else {
      queue->work.wait_for(lock, ResultPollInterval);
    }
  }
}

StorageKind StorageFromEnvironment() {
  const char* forced = std::getenv(StorageVariable);
  if (forced != nullptr && std::strcmp(forced, "rotational") == 0) return StorageRotational;
  if (forced != nullptr && std::strcmp(forced, "solid") == 0) return StorageSolid;
  return StorageUnknown;
}

unsigned ThreadsFromEnvironment() {
  const char* text = std::getenv(HashThreadsVariable);
  if (text != nullptr) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && value >= 1 && value <= static_cast<long>(MaxHashThreads)) {
      return static_cast<unsigned>(value);
    }
  }
  const unsigned usable = CountUsableProcessors();
  return usable < MaxHashThreads ? usable : MaxHashThreads;
}

// Wakes the workers for the files queued since they were last woken.
void WakeWorkers(HashQueue* queue) {
  if (queue->unwoken == 0) return;
  queue->unwoken = 0;
  queue->work.notify_all();
}

// Workers are woken for a batch of files, or for a file that has waited
// long enough (the walk may take its time over the next directory).
void NoteQueued(HashQueue* queue) {
  const Clock::time_point now = Clock::now();
  if (queue->unwoken++ == 0) queue->unwoken_since = now;
  if (queue->unwoken >= WakeBatch || now - queue->unwoken_since >= WakeDelay) {
    WakeWorkers(queue);
  }
}

unsigned Enqueue(HashQueue* queue, const char* path, DWORD open_flags,
                 const HashNote& note, JobState state) {
  HashJob& job = JobOf(queue, queue->end);
  std::size_t length = std::strlen(path);
  const bool too_long = length > HashPathSize - 1;
  if (too_long) length = HashPathSize - 1;
  std::memcpy(job.path, path, length);
  job.path[length] = '\0';
  // FNV-1a.
  std::uint64_t hash = 14695981039346656037ull;
  for (std::size_t i = 0; i < length; ++i) {
    hash = (hash ^ static_cast<unsigned char>(job.path[i])) * 1099511628211ull;
  }
  job.path_hash = hash;
  job.open_flags = open_flags;
  const bool refused = state == JobState::Done;
  if (too_long) state = JobState::Done;
  job.place = 0;
  // Once the disk shows, each file's place orders the reads; asking it
  // costs a look-up, so a run on data in memory never asks.
  if (state == JobState::Queued && queue->cold.load(std::memory_order_relaxed)) {
    QueryFilePlace(path, &job.place);
  }
  job.note = note;
  job.result.ok = false;
  job.result.no_handle = false;
  job.result.failure = refused ? HashFailure::Refused : HashFailure::None;
  job.result.error = ERROR_SUCCESS;
  if (too_long && !refused) {
    job.result.failure = HashFailure::Open;
    job.result.error = ERROR_FILENAME_EXCED_RANGE;
  }
  job.result.hex[0] = '\0';
  job.result.hashed_size = 0;
  std::unique_lock<std::mutex> lock(queue->mutex);
  job.state = state;
  const unsigned ticket = queue->end++;
  lock.unlock();
  if (state == JobState::Queued) NoteQueued(queue);
  return ticket;
}

void CallWaitHook(const HashQueue* queue) {
  if (queue->wait_hook != nullptr) queue->wait_hook(queue->wait_context);
}

// Stops the worker threads that run and waits for their ends.
void StopWorkerThreads(HashQueue* queue) {
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->stopping = true;
  }
  queue->work.notify_all();
  for (unsigned i = 0; i < queue->worker_count; ++i) {
    if (queue->threads[i].joinable()) queue->threads[i].join();
  }
}

// The caller's thread hashes, with no workers, until the oldest file is
// done.
void HashInline(HashQueue* queue, std::unique_lock<std::mutex>& lock) {
  HashWorker* worker = queue->workers[0];
  const HashJob& job = JobOf(queue, queue->oldest);
  for (;;) {
    SettleWorker(queue, worker);
    if (job.state == JobState::Done) return;
    lock.unlock();
    if (WorkerHasWork(worker)) {
      StepWorker(queue, worker);
    } else {
      std::this_thread::sleep_for(HandleRetryInterval);
    }
    CallWaitHook(queue);
    lock.lock();
  }
}

// Waits for the workers to hand in the oldest file. Woken when one does;
// the bounded wait looks again now and then all the same, so that no
// wake-up missed could stall the run, and lets the hook draw meanwhile.
void AwaitWorkers(HashQueue* queue, std::unique_lock<std::mutex>& lock) {
  const HashJob& job = JobOf(queue, queue->oldest);
  while (job.state != JobState::Done) {
    queue->results.wait_for(lock, ResultPollInterval);
    if (job.state == JobState::Done || queue->wait_hook == nullptr) continue;
    lock.unlock();
    CallWaitHook(queue);
    lock.lock();
  }
}

// With no workers, the files open now are hashed to their ends, without
// opening others, so that their handles are free again.
void CloseInlineFiles(HashQueue* queue, std::unique_lock<std::mutex>& lock) {
  HashWorker* worker = queue->workers[0];
  HoldWorkerOpens(worker, true);
  while (WorkerHoldsFiles(worker)) {
    lock.unlock();
    StepWorker(queue, worker);
    lock.lock();
    SettleWorker(queue, worker);
  }
  HoldWorkerOpens(worker, false);
}

// std::thread tells of a thread the system would not start (a process or
// memory limit) by throwing; the run goes on with those that started.
bool StartWorkerThread(HashQueue* queue, unsigned index) {
  try {
    queue->threads[index] = std::thread(RunHashWorker, queue, queue->workers[index]);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Two workers or more run on threads of their own; with fewer, the one
// started is stopped again and the caller's thread hashes, as with one
// thread asked for. The workers that got no thread are freed.
void StartWorkerThreads(HashQueue* queue) {
  unsigned started = 0;
  while (started < queue->worker_count && StartWorkerThread(queue, started)) ++started;
  if (started < 2) {
    StopWorkerThreads(queue);
    queue->stopping = false;
    started = 0;
  }
  const unsigned kept = started > 0 ? started : 1;
  for (unsigned i = kept; i < queue->worker_count; ++i) FreeHashWorker(queue->workers[i]);
  // The workers started share out the files by the count.
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->worker_count = kept;
  queue->plan.threads = kept;
}

}  // namespace

HashPlan ChooseHashPlan() {
  const Md5LaneKernel* kernel = ChooseMd5LaneKernel();
  return HashPlan{kernel, ThreadsFromEnvironment(), StorageFromEnvironment(),
                  MeasureLaneSplit(kernel)};
}

HashPlan PlanForTree(const HashPlan& plan) {
  HashPlan tree_plan = plan;
  if (tree_plan.storage == StorageUnknown) {
    tree_plan.storage = FindStorage(".");
    tree_plan.measure_storage = true;
  }
  return tree_plan;
}

HashQueue* StartHashQueue(const HashPlan& plan) {
  auto* queue = new (std::nothrow) HashQueue;
  if (queue == nullptr) return nullptr;
  queue->plan = plan;
  queue->oldest = queue->end = queue->next_claim = 0;
  queue->open_files.store(0);
  queue->releases.store(0);
  queue->bytes_read.store(0);
  queue->stopping = false;
  queue->cold.store(false);
  queue->storage.store(plan.storage);
  StartStorageMeasure(&queue->measure, plan.storage);
  queue->disk_reads.store(0);
  queue->turn_owner = -1;
  queue->wait_hook = nullptr;
  queue->wait_context = nullptr;
  queue->unwoken = 0;
  queue->handle_waiters = 0;
  queue->in_flight_count = 0;
  queue->threads_wanted = plan.threads > 1 ? plan.threads : 1;
  queue->worker_count = 0;
  // One thread: the caller's own, with one worker's lanes. With more, as
  // many workers as the memory allows, each on a thread of its own.
  while (queue->worker_count < queue->threads_wanted) {
    HashWorker* worker = NewHashWorker(plan, static_cast<int>(queue->worker_count));
    if (worker == nullptr) break;
    queue->workers[queue->worker_count++] = worker;
  }
  if (queue->worker_count == 0) {
    delete queue;
    return nullptr;
  }
  if (queue->threads_wanted > 1) StartWorkerThreads(queue);
  return queue;
}

void EndHashQueue(HashQueue* queue) {
  StopWorkerThreads(queue);
  for (unsigned i = 0; i < queue->worker_count; ++i) FreeHashWorker(queue->workers[i]);
  delete queue;
}

bool HashQueueFull(const HashQueue* queue) {
  return queue->end - queue->oldest == HashQueueSize;
}

bool HashQueueEmpty(const HashQueue* queue) { return queue->end == queue->oldest; }

unsigned OldestHashTicket(const HashQueue* queue) { return queue->oldest; }

unsigned QueueFileToHash(HashQueue* queue, const char* path, DWORD open_flags,
                         const HashNote& note) {
  return Enqueue(queue, path, open_flags, note, JobState::Queued);
}

unsigned QueueRefusedFile(HashQueue* queue, const char* path, const HashNote& note) {
  return Enqueue(queue, path, 0, note, JobState::Done);
}

void TakeHashResult(HashQueue* queue, HashResult* result) {
  WakeWorkers(queue);
  std::unique_lock<std::mutex> lock(queue->mutex);
  HashJob& job = JobOf(queue, queue->oldest);
  if (queue->plan.threads > 1) {
    AwaitWorkers(queue, lock);
  } else {
    HashInline(queue, lock);
  }
  *result = job.result;
  result->path = job.path;
  result->note = &job.note;
  ++queue->oldest;
}

void SetHashWaitHook(HashQueue* queue, HashWaitHook hook, void* context) {
  queue->wait_hook = hook;
  queue->wait_context = context;
}

bool WaitForHandle(HashQueue* queue, unsigned* releases, Clock::time_point since) {
  WakeWorkers(queue);
  std::unique_lock<std::mutex> lock(queue->mutex);
  if (queue->plan.threads <= 1 && WorkerHoldsFiles(queue->workers[0])) {
    CloseInlineFiles(queue, lock);
  }
  if (queue->releases.load() != *releases) {
    *releases = queue->releases.load();
    return true;
  }
  if (queue->open_files.load() == 0 && Clock::now() - since >= HandleWaitLimit) return false;
  if (queue->plan.threads <= 1) {
    lock.unlock();
    std::this_thread::sleep_for(HandleRetryInterval);
  } else {
    ++queue->handle_waiters;
    queue->work.wait_for(lock, HandleRetryInterval);
    --queue->handle_waiters;
    *releases = queue->releases.load();
  }
  return true;
}

void ReleaseHandle(HashQueue* queue) {
  queue->releases.fetch_add(1);
  // Under the lock, so that a worker about to wait cannot miss the call.
  std::lock_guard<std::mutex> lock(queue->mutex);
  if (queue->handle_waiters > 0) queue->work.notify_all();
}

bool AdvanceHashing(HashQueue* queue) {
  std::unique_lock<std::mutex> lock(queue->mutex);
  HashWorker* worker = queue->workers[0];
  SettleWorker(queue, worker);
  lock.unlock();
  const bool did = StepWorker(queue, worker);
  lock.lock();
  SettleWorker(queue, worker);
  return did;
}

const std::atomic<std::uint64_t>* HashBytesRead(const HashQueue* queue) {
  return &queue->bytes_read;
}

unsigned HashThreadsWanted(const HashQueue* queue) { return queue->threads_wanted; }

unsigned HashThreadsStarted(const HashQueue* queue) { return queue->plan.threads; }

unsigned ClaimQueuedFiles(HashQueue* queue, unsigned held, unsigned room,
                          ClaimedFile* claims) {
  SkipClaimedFiles(queue);
  const bool by_place = queue->cold.load(std::memory_order_relaxed);
  // A fair share of the files waiting and being hashed, so that one worker
  // does not take every file while the others idle, nor hold more than its
  // share of a few large files: each worker's files are chains of a core.
  const unsigned waiting = queue->end - queue->next_claim + queue->in_flight_count;
  const unsigned fair = (waiting + queue->worker_count - 1) / queue->worker_count;
  unsigned share = fair > held ? fair - held : 0;
  if (share > room) share = room;
  unsigned count = 0;
  while (count < share) {
    SkipClaimedFiles(queue);
    if (queue->next_claim == queue->end) break;
    const unsigned ticket = by_place ? FirstQueuedByPlace(queue) : queue->next_claim;
    HashJob& job = JobOf(queue, ticket);
    // Its twin goes first; the claims go on once it is done.
    if (InFlight(queue, job.path_hash)) break;
    if (ticket == queue->next_claim) ++queue->next_claim;
    job.state = JobState::Claimed;
    queue->in_flight[queue->in_flight_count++] = job.path_hash;
    claims[count++] = ClaimedFile{ticket, job.path, job.open_flags, job.place};
  }
  return count;
}

void HandBackResults(HashQueue* queue, const unsigned* tickets,
                     const HashResult* results, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    HashJob& job = JobOf(queue, tickets[i]);
    job.result = results[i];
    job.state = JobState::Done;
    LeaveFlight(queue, job.path_hash);
    // The caller is woken for the oldest.
    if (tickets[i] == queue->oldest) queue->results.notify_one();
  }
}

bool HashQueueStopping(const HashQueue* queue) { return queue->stopping; }

bool TakeDiskTurn(HashQueue* queue, int worker) {
  if (queue->turn_owner != -1 && queue->turn_owner != worker) return false;
  queue->turn_owner = worker;
  return true;
}

void HandBackDiskTurn(HashQueue* queue, int worker) {
  if (queue->turn_owner != worker) return;
  queue->turn_owner = -1;
  queue->work.notify_all();
}

void CountHandleWaiter(HashQueue* queue, bool waits) {
  if (waits) {
    ++queue->handle_waiters;
  } else {
    --queue->handle_waiters;
  }
}

void WakeHandleWaiters(HashQueue* queue) {
  if (queue->handle_waiters > 0) queue->work.notify_all();
}

void NoteFileOpened(HashQueue* queue) { queue->open_files.fetch_add(1); }

void NoteFileClosed(HashQueue* queue) {
  queue->open_files.fetch_sub(1);
  queue->releases.fetch_add(1);
}

unsigned HandleReleases(const HashQueue* queue) { return queue->releases.load(); }

bool RunHoldsFiles(const HashQueue* queue) { return queue->open_files.load() != 0; }

void CountBytesRead(HashQueue* queue, std::uint64_t bytes) {
  queue->bytes_read.fetch_add(bytes, std::memory_order_relaxed);
}

void NoteStorageShowed(HashQueue* queue) {
  queue->cold.store(true, std::memory_order_relaxed);
}

StorageKind HashStorage(const HashQueue* queue) {
  return queue->storage.load(std::memory_order_relaxed);
}

bool MeasuringStorage(const HashQueue* queue) {
  return queue->plan.measure_storage && !queue->measure.decided;
}

bool StorageShowed(const HashQueue* queue) {
  return queue->cold.load(std::memory_order_relaxed);
}

bool ReadAheadWanted(const HashQueue* queue) {
  return !MeasuringStorage(queue) && StorageShowed(queue) &&
         HashStorage(queue) != StorageRotational;
}

unsigned BeginDiskRead(HashQueue* queue) {
  return queue->disk_reads.fetch_add(1, std::memory_order_relaxed) + 1;
}

unsigned EndDiskRead(HashQueue* queue, unsigned in_flight) {
  // As many as were in flight when it began or as it ends, whichever is more.
  const unsigned at_end = queue->disk_reads.fetch_sub(1, std::memory_order_relaxed);
  return at_end > in_flight ? at_end : in_flight;
}

void HandInDiskReads(HashQueue* queue, const DiskRead* reads, unsigned count) {
  if (!MeasuringStorage(queue)) return;
  const bool can_pair = queue->worker_count > 1;
  for (unsigned i = 0; i < count; ++i) {
    if (!AddDiskRead(&queue->measure, reads[i], can_pair)) continue;
    queue->storage.store(queue->measure.verdict, std::memory_order_relaxed);
    // Lanes that wait for the disk's turn may read now.
    queue->work.notify_all();
    return;
  }
}

std::size_t DescribeHashStorage(HashQueue* queue, char* text, std::size_t size) {
  std::lock_guard<std::mutex> lock(queue->mutex);
  const bool forced = !queue->plan.measure_storage && queue->plan.storage != StorageUnknown;
  if (!forced && queue->measure.count == 0) {
    if (size > 0) text[0] = '\0';
    return 0;
  }
  return DescribeStorageMeasure(queue->measure, forced, text, size);
}
