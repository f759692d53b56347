// A hashing worker: its lanes, its files and its settling with the queue.
#include "digest/hash_lanes.h"

#include <new>

namespace {

using Clock = std::chrono::steady_clock;

HashJob& JobOf(HashQueue* queue, unsigned ticket) {
  return queue->jobs[ticket % HashQueueSize];
}

void NoteDone(HashWorker* worker, WorkerLane* lane) {
  worker->done[worker->done_count++] = lane->ticket;
  lane->state = LaneState::Free;
}

// The lane's file could not be opened, for error.
void FailLane(HashQueue* queue, HashWorker* worker, WorkerLane* lane, DWORD error) {
  HashResult& result = JobOf(queue, lane->ticket).result;
  result.ok = false;
  result.no_handle = error == ERROR_TOO_MANY_OPEN_FILES;
  result.failure = HashFailure::Open;
  result.error = error;
  result.hex[0] = '\0';
  result.hashed_size = 0;
  NoteDone(worker, lane);
}

void FinishLane(HashQueue* queue, HashWorker* worker, int index) {
  WorkerLane& lane = worker->lanes[index];
  HashResult& result = JobOf(queue, lane.ticket).result;
  const bool read_failed = lane.feed.state.read_failed;
  result.ok = FinishFeed(&lane.feed, result.hex, &result.hashed_size);
  result.no_handle = false;
  if (!result.ok) result.failure = read_failed ? HashFailure::Read : HashFailure::Changed;
  CloseLane(&worker->schedule, index);
  queue->open_files.fetch_sub(1);
  queue->releases.fetch_add(1);
  --worker->held;
  ++worker->closed;
  NoteDone(worker, &lane);
}

// Opens the lane's claimed file. An open that fails for lack of handles,
// or for sharing (on Windows another lane may hold the same file under
// another name), waits; SettleWorker decides when to try again.
void OpenLaneFile(HashQueue* queue, HashWorker* worker, int index) {
  WorkerLane& lane = worker->lanes[index];
  const HashJob& job = JobOf(queue, lane.ticket);
  // Counted before the open, so that a close between a failed open and the
  // wait is not missed.
  const unsigned releases = queue->releases.load();
  const DWORD error = OpenFeed(&lane.feed, job.path, job.open_flags);
  if (error == ERROR_SUCCESS) {
    lane.state = LaneState::Hashing;
    lane.read_short = false;
    OpenLane(&worker->schedule, index, &lane.feed.state.context);
    queue->open_files.fetch_add(1);
    ++worker->held;
    return;
  }
  if (error != ERROR_TOO_MANY_OPEN_FILES && error != ERROR_SHARING_VIOLATION) {
    FailLane(queue, worker, &lane, error);
    return;
  }
  const Clock::time_point now = Clock::now();
  if (!lane.waited) {
    lane.waited = true;
    lane.waiting_since = now;
    lane.last_try = false;
  }
  lane.state = LaneState::WaitingForHandle;
  lane.wait_error = error;
  lane.releases_seen = releases;
  lane.tried_at = now;
}

// A waiting open is tried again once the run has closed a handle since it
// failed; one that waits for a handle also every HandleRetryInterval. It
// gives up when nothing the run holds can be closed (and one more try
// after that failed too): for lack of handles after HandleWaitLimit, for
// sharing at once.
void SettleWaitingLane(HashQueue* queue, HashWorker* worker, WorkerLane* lane,
                       Clock::time_point now) {
  if (queue->releases.load() != lane->releases_seen) {
    lane->state = LaneState::Opening;
    lane->last_try = false;
    return;
  }
  const bool nothing_to_close = queue->open_files.load() == 0;
  const bool give_up =
      nothing_to_close && (lane->wait_error == ERROR_SHARING_VIOLATION ||
                           now - lane->waiting_since >= HandleWaitLimit);
  if (give_up && lane->last_try) {
    FailLane(queue, worker, lane, lane->wait_error);
  } else if (give_up) {
    lane->last_try = true;
    lane->state = LaneState::Opening;
  } else if (lane->wait_error == ERROR_TOO_MANY_OPEN_FILES &&
             now - lane->tried_at >= HandleRetryInterval) {
    lane->state = LaneState::Opening;
  }
}

// The waiting lane whose file lies first on the disk; -1 for none.
int FirstWaitingLane(const HashWorker* worker) {
  int first = -1;
  for (int i = 0; i < Md5MaxLanes; ++i) {
    const WorkerLane& lane = worker->lanes[i];
    if (lane.state != LaneState::WaitingForStorage) continue;
    if (first < 0 || lane.place < worker->lanes[first].place) first = i;
  }
  return first;
}

// The disk's turn: kept while the worker has files waiting for it, handed
// back when it has none, taken when it is free.
void SettleTurn(HashQueue* queue, HashWorker* worker) {
  if (worker->turn_lane >= 0) return;
  const int next = FirstWaitingLane(worker);
  if (queue->turn_owner == worker->index && next < 0) {
    queue->turn_owner = -1;
    queue->work.notify_all();
    return;
  }
  if (next < 0) return;
  if (queue->turn_owner != -1 && queue->turn_owner != worker->index) return;
  queue->turn_owner = worker->index;
  worker->turn_lane = next;
  worker->lanes[next].state = LaneState::Hashing;
}

// The queued file that lies first on the disk, among those not claimed.
unsigned FirstQueuedByPlace(HashQueue* queue) {
  unsigned first = queue->end;
  for (unsigned ticket = queue->next_claim; ticket != queue->end; ++ticket) {
    const HashJob& job = JobOf(queue, ticket);
    if (job.state != JobState::Queued) continue;
    if (first == queue->end || job.place < JobOf(queue, first).place) first = ticket;
  }
  return first;
}

// Reads the lane's next bytes, or finishes its file when there are none.
// On a rotational disk only the lane holding the disk's turn may wait for
// the disk; the others read what is in memory, or wait for the turn.
void FillLane(HashQueue* queue, HashWorker* worker, int index) {
  WorkerLane& lane = worker->lanes[index];
  DWORD got = 0;
  if (queue->plan.storage == StorageRotational && worker->turn_lane != index) {
    const CachedRead read = ReadFeedIfCached(&lane.feed, &got);
    if (read == CachedReadNotCached) {
      lane.state = LaneState::WaitingForStorage;
      queue->cold.store(true, std::memory_order_relaxed);
      return;
    }
    if (read == CachedReadCannotTell) got = ReadFeed(&lane.feed);
    if (read == CachedReadFailed) lane.feed.state.read_failed = true;
  } else {
    got = ReadFeed(&lane.feed);
  }
  if (got == 0) {
    if (worker->turn_lane == index) worker->turn_lane = -1;
    FinishLane(queue, worker, index);
    return;
  }
  queue->bytes_read.fetch_add(got, std::memory_order_relaxed);
  lane.read_short = got < FeedReadSize;
  FeedLane(&worker->schedule, index, lane.feed.buffer, got);
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

// Marks a worker's finished files done; the writer is woken for the oldest.
void PublishDone(HashQueue* queue, HashWorker* worker) {
  for (unsigned i = 0; i < worker->done_count; ++i) {
    HashJob& job = JobOf(queue, worker->done[i]);
    job.state = JobState::Done;
    LeaveFlight(queue, job.path_hash);
    if (worker->done[i] == queue->oldest) queue->results.notify_one();
  }
  worker->done_count = 0;
}

// Moves next_claim past the files claimed out of order or done at queueing.
void SkipClaimedFiles(HashQueue* queue) {
  while (queue->next_claim != queue->end &&
         JobOf(queue, queue->next_claim).state != JobState::Queued) {
    ++queue->next_claim;
  }
}

void ClaimFiles(HashQueue* queue, HashWorker* worker) {
  SkipClaimedFiles(queue);
  const bool by_place = queue->plan.storage == StorageRotational &&
                        queue->cold.load(std::memory_order_relaxed);
  // A fair share of the files waiting and being hashed, so that one worker
  // does not take every file while the others idle, nor hold more than its
  // share of a few large files: each worker's files are chains of a core.
  unsigned held = 0;
  for (const WorkerLane& lane : worker->lanes) held += lane.state != LaneState::Free;
  const unsigned waiting = queue->end - queue->next_claim + queue->in_flight_count;
  const unsigned fair = (waiting + queue->worker_count - 1) / queue->worker_count;
  unsigned share = fair > held ? fair - held : 0;
  for (int i = 0; i < worker->schedule.kernel->lanes && share > 0; ++i) {
    WorkerLane& lane = worker->lanes[i];
    if (lane.state != LaneState::Free) continue;
    SkipClaimedFiles(queue);
    if (queue->next_claim == queue->end) return;
    const unsigned ticket = by_place ? FirstQueuedByPlace(queue) : queue->next_claim;
    HashJob& job = JobOf(queue, ticket);
    // Its twin goes first; the claims go on once it is done.
    if (InFlight(queue, job.path_hash)) return;
    lane.ticket = ticket;
    if (ticket == queue->next_claim) ++queue->next_claim;
    job.state = JobState::Claimed;
    queue->in_flight[queue->in_flight_count++] = job.path_hash;
    lane.waited = false;
    lane.place = JobOf(queue, lane.ticket).place;
    lane.state = LaneState::Opening;
    --share;
  }
}

}  // namespace

HashWorker* NewHashWorker(const HashPlan& plan, int index) {
  auto* worker = new (std::nothrow) HashWorker;
  if (worker == nullptr) return nullptr;
  StartLanes(&worker->schedule, plan.kernel, plan.split);
  worker->held = worker->closed = 0;
  worker->done_count = 0;
  worker->opens_held = false;
  worker->counted_waiting = false;
  worker->index = index;
  worker->turn_lane = -1;
  for (WorkerLane& lane : worker->lanes) {
    lane.state = LaneState::Free;
    lane.feed.file = INVALID_HANDLE_VALUE;
  }
  return worker;
}

void FreeHashWorker(HashWorker* worker) {
  for (WorkerLane& lane : worker->lanes) CloseFeed(&lane.feed);
  delete worker;
}

// A worker with lanes that wait for a handle is counted once in the
// queue's handle_waiters, so that the others' closes wake it.
void CountHandleWait(HashQueue* queue, HashWorker* worker) {
  const bool waits = WorkerWaits(worker);
  if (waits == worker->counted_waiting) return;
  worker->counted_waiting = waits;
  if (waits) {
    ++queue->handle_waiters;
  } else {
    --queue->handle_waiters;
  }
}

void SettleWorker(HashQueue* queue, HashWorker* worker) {
  PublishDone(queue, worker);
  if (worker->closed > 0) {
    worker->closed = 0;
    if (queue->handle_waiters > 0) queue->work.notify_all();
  }
  if (WorkerWaits(worker)) {
    const Clock::time_point now = Clock::now();
    for (WorkerLane& lane : worker->lanes) {
      if (lane.state == LaneState::WaitingForHandle) {
        SettleWaitingLane(queue, worker, &lane, now);
      }
    }
    // A give-up is a result too.
    PublishDone(queue, worker);
  }
  CountHandleWait(queue, worker);
  if (queue->plan.storage == StorageRotational) SettleTurn(queue, worker);
  if (!queue->stopping && !worker->opens_held) ClaimFiles(queue, worker);
}

bool StepWorker(HashQueue* queue, HashWorker* worker) {
  bool did = false;
  const int lanes = worker->schedule.kernel->lanes;
  for (int i = 0; i < lanes; ++i) {
    if (worker->lanes[i].state != LaneState::Opening) continue;
    OpenLaneFile(queue, worker, i);
    did = true;
  }
  for (int i = 0; i < lanes; ++i) {
    if (worker->lanes[i].state != LaneState::Hashing ||
        !LaneNeedsBytes(&worker->schedule, i)) {
      continue;
    }
    FillLane(queue, worker, i);
    did = true;
  }
  if (RunLanes(&worker->schedule)) did = true;
  // A file whose last read met its end is finished now, not a step later:
  // its size is asked once more, and the file then checked against it.
  for (int i = 0; i < lanes; ++i) {
    const WorkerLane& lane = worker->lanes[i];
    if (lane.state == LaneState::Hashing && lane.read_short &&
        LaneNeedsBytes(&worker->schedule, i)) {
      FillLane(queue, worker, i);
    }
  }
  return did;
}

bool WorkerHasWork(const HashWorker* worker) {
  for (const WorkerLane& lane : worker->lanes) {
    if (lane.state == LaneState::Opening || lane.state == LaneState::Hashing) return true;
  }
  return false;
}

bool WorkerWaits(const HashWorker* worker) {
  for (const WorkerLane& lane : worker->lanes) {
    if (lane.state == LaneState::WaitingForHandle) return true;
  }
  return false;
}

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
