// The ordered queue, its workers, and the choice of the thread count.
#include "digest/hash_queue.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "digest/hash_lanes.h"
#include "platform/process.h"

namespace {

using Clock = std::chrono::steady_clock;

HashJob& JobOf(HashQueue* queue, unsigned ticket) {
  return queue->jobs[ticket % HashQueueSize];
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
  if (state == JobState::Queued && queue->plan.storage == StorageRotational &&
      queue->cold.load(std::memory_order_relaxed)) {
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
  worker->opens_held = true;
  while (worker->held > 0) {
    lock.unlock();
    StepWorker(queue, worker);
    lock.lock();
    SettleWorker(queue, worker);
  }
  worker->opens_held = false;
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
  return HashPlan{kernel, ThreadsFromEnvironment(), StorageUnknown, MeasureLaneSplit(kernel)};
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
  if (queue->plan.threads <= 1 && queue->workers[0]->held > 0) {
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
