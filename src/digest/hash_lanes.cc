// A hashing worker: its lanes, its files and its settling with the queue.
#include "digest/hash_lanes.h"

#include <algorithm>
#include <new>

namespace {

using Clock = std::chrono::steady_clock;

// Where the system cannot tell whether a read waits for the device, a read
// that takes this long did: a copy from memory of FeedReadSize takes a few
// dozen microseconds.
constexpr std::chrono::microseconds DeviceReadTime{100};
// What a file opened is asked ahead for: its first reads.
constexpr std::uint64_t ReadAheadBytes = 2 * FeedReadSize;

// The lane's result, kept until the worker settles with the queue.
HashResult& NoteDone(HashWorker* worker, WorkerLane* lane) {
  worker->done[worker->done_count] = lane->ticket;
  lane->state = LaneState::Free;
  HashResult& result = worker->outcomes[worker->done_count++];
  result.path = lane->path;
  result.note = nullptr;
  return result;
}

// The lane's file could not be opened, for error.
void FailLane(HashWorker* worker, WorkerLane* lane, DWORD error) {
  HashResult& result = NoteDone(worker, lane);
  result.ok = false;
  result.no_handle = error == ERROR_TOO_MANY_OPEN_FILES;
  result.failure = HashFailure::Open;
  result.error = error;
  result.hex[0] = '\0';
  result.hashed_size = 0;
}

void FinishLane(HashQueue* queue, HashWorker* worker, int index) {
  WorkerLane& lane = worker->lanes[index];
  const bool read_failed = FeedReadFailed(&lane.feed);
  HashResult& result = NoteDone(worker, &lane);
  result.ok = FinishFeed(&lane.feed, result.hex, &result.hashed_size);
  result.no_handle = false;
  result.failure = HashFailure::None;
  result.error = ERROR_SUCCESS;
  if (!result.ok) result.failure = read_failed ? HashFailure::Read : HashFailure::Changed;
  CloseLane(&worker->schedule, index);
  NoteFileClosed(queue);
  --worker->held;
  ++worker->closed;
}

// Opens the lane's claimed file. An open that fails for lack of handles,
// or for sharing (on Windows another lane may hold the same file under
// another name), waits; SettleWorker decides when to try again.
void OpenLaneFile(HashQueue* queue, HashWorker* worker, int index) {
  WorkerLane& lane = worker->lanes[index];
  // Counted before the open, so that a close between a failed open and the
  // wait is not missed.
  const unsigned releases = HandleReleases(queue);
  const DWORD error = OpenFeed(&lane.feed, lane.path, lane.open_flags);
  if (error == ERROR_SUCCESS) {
    lane.state = LaneState::Hashing;
    lane.read_short = false;
    lane.started = false;
    if (worker->read_ahead) ReadFeedAhead(&lane.feed, ReadAheadBytes);
    OpenLane(&worker->schedule, index, FeedContext(&lane.feed));
    NoteFileOpened(queue);
    ++worker->held;
    return;
  }
  if (error != ERROR_TOO_MANY_OPEN_FILES && error != ERROR_SHARING_VIOLATION) {
    FailLane(worker, &lane, error);
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
  if (HandleReleases(queue) != lane->releases_seen) {
    lane->state = LaneState::Opening;
    lane->last_try = false;
    return;
  }
  const bool nothing_to_close = !RunHoldsFiles(queue);
  const bool give_up =
      nothing_to_close && (lane->wait_error == ERROR_SHARING_VIOLATION ||
                           now - lane->waiting_since >= HandleWaitLimit);
  if (give_up && lane->last_try) {
    FailLane(worker, lane, lane->wait_error);
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
  if (next < 0) {
    HandBackDiskTurn(queue, worker->index);
    return;
  }
  if (!TakeDiskTurn(queue, worker->index)) return;
  worker->turn_lane = next;
  worker->lanes[next].state = LaneState::Hashing;
}

// A read that may wait for the device (surely: the system said the data
// is not in memory). Timed while the queue measures, and where the system
// cannot tell, until a read shows that the data is not all in memory.
DWORD ReadFromDevice(HashQueue* queue, HashWorker* worker, WorkerLane* lane, bool surely) {
  if (!worker->measuring && (surely || worker->cold)) return ReadFeed(&lane->feed);
  const unsigned began_with = BeginDiskRead(queue);
  const Clock::time_point begun = Clock::now();
  const DWORD got = ReadFeed(&lane->feed);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begun);
  const unsigned in_flight = EndDiskRead(queue, began_with);
  if (!surely && took < DeviceReadTime) return got;
  if (!surely) NoteStorageShowed(queue);
  if (worker->measuring && worker->disk_read_count < WorkerDiskReads) {
    worker->disk_reads[worker->disk_read_count++] =
        DiskRead{static_cast<std::uint32_t>(std::min<long long>(took.count(), UINT32_MAX)),
                 static_cast<std::uint8_t>(std::min(in_flight, 255u)), !lane->started};
  }
  return got;
}

// Whether a lane that may not wait for the device waits for the disk's
// turn without trying to read: once the disk has shown, when the system
// says its next bytes are not in memory (a read that tried would start the
// disk on them), or cannot tell at all.
bool AwaitsTurn(HashWorker* worker, WorkerLane* lane) {
  if (!worker->cold) return false;
  if (worker->cannot_tell) return true;
  if (!worker->can_ask_cache) return false;
  const CacheState cache = FeedBytesCached(&lane->feed);
  if (cache == CacheCannotTell) worker->can_ask_cache = false;
  return cache == CacheNotHeld;
}

// Reads the lane's next bytes, or finishes its file when there are none.
// On a rotational disk only the lane holding the disk's turn may wait for
// the disk; the others read what is in memory, or wait for the turn. Where
// the system cannot tell what is in memory, they wait for the turn once
// the data has shown not to be.
void FillLane(HashQueue* queue, HashWorker* worker, int index) {
  WorkerLane& lane = worker->lanes[index];
  DWORD got = 0;
  // While the storage is measured every lane reads from the device, one
  // read of each worker's in flight at a time.
  const bool may_wait = worker->storage != StorageRotational || worker->turn_lane == index ||
                        worker->measuring;
  if (!may_wait && AwaitsTurn(worker, &lane)) {
    lane.state = LaneState::WaitingForStorage;
    return;
  }
  if (worker->cannot_tell) {
    got = ReadFromDevice(queue, worker, &lane, false);
  } else if (!may_wait || worker->measuring || !worker->read_ahead) {
    // Until the data shows not to be in memory, or while the queue
    // measures, a read first asks for what is in memory.
    const CachedRead read = ReadFeedIfCached(&lane.feed, &got);
    if (read == CachedReadNotCached) {
      NoteStorageShowed(queue);
      if (!may_wait) {
        lane.state = LaneState::WaitingForStorage;
        return;
      }
      got = ReadFromDevice(queue, worker, &lane, true);
    } else if (read == CachedReadCannotTell) {
      worker->cannot_tell = true;
      got = ReadFromDevice(queue, worker, &lane, false);
    }
  } else {
    got = ReadFeed(&lane.feed);
  }
  lane.started = true;
  if (got == 0) {
    if (worker->turn_lane == index) worker->turn_lane = -1;
    FinishLane(queue, worker, index);
    return;
  }
  CountBytesRead(queue, got);
  lane.read_short = got < FeedReadSize;
  FeedLane(&worker->schedule, index, FeedBytes(&lane.feed), got);
}

// Claims files for the worker's free lanes.
void ClaimLanes(HashQueue* queue, HashWorker* worker) {
  const int lanes = ScheduleLanes(&worker->schedule);
  unsigned held = 0;
  for (int i = 0; i < lanes; ++i) held += worker->lanes[i].state != LaneState::Free;
  ClaimedFile claims[Md5MaxLanes];
  const unsigned count = ClaimQueuedFiles(queue, held, lanes - held, claims);
  unsigned next = 0;
  for (int i = 0; i < lanes && next < count; ++i) {
    WorkerLane& lane = worker->lanes[i];
    if (lane.state != LaneState::Free) continue;
    const ClaimedFile& claim = claims[next++];
    lane.ticket = claim.ticket;
    lane.path = claim.path;
    lane.open_flags = claim.open_flags;
    lane.place = claim.place;
    lane.waited = false;
    lane.state = LaneState::Opening;
  }
}

// A worker with lanes that wait for a handle is counted once among the
// queue's handle waiters, so that the others' closes wake it.
void CountHandleWait(HashQueue* queue, HashWorker* worker) {
  const bool waits = WorkerWaits(worker);
  if (waits == worker->counted_waiting) return;
  worker->counted_waiting = waits;
  CountHandleWaiter(queue, waits);
}

// The worker reads as the queue's storage says, and hands it the reads it
// timed. Once the storage is no longer taken for rotational, every lane
// may wait for the device.
void FollowStorage(HashQueue* queue, HashWorker* worker) {
  HandInDiskReads(queue, worker->disk_reads, worker->disk_read_count);
  worker->disk_read_count = 0;
  worker->measuring = MeasuringStorage(queue);
  worker->cold = StorageShowed(queue);
  worker->read_ahead = ReadAheadWanted(queue);
  const StorageKind now = HashStorage(queue);
  if (now == worker->storage) return;
  worker->storage = now;
  if (now == StorageRotational) return;
  for (WorkerLane& lane : worker->lanes) {
    if (lane.state == LaneState::WaitingForStorage) lane.state = LaneState::Hashing;
  }
  worker->turn_lane = -1;
  HandBackDiskTurn(queue, worker->index);
}

// The finished files' results go to the queue.
void HandBackDone(HashQueue* queue, HashWorker* worker) {
  HandBackResults(queue, worker->done, worker->outcomes, worker->done_count);
  worker->done_count = 0;
}

}  // namespace

HashWorker* NewHashWorker(const HashPlan& plan, int index) {
  auto* worker = new (std::nothrow) HashWorker;
  if (worker == nullptr) return nullptr;
  StartLanes(&worker->schedule, plan.kernel, plan.split);
  worker->storage = plan.storage;
  worker->measuring = worker->cold = worker->read_ahead = worker->cannot_tell = false;
  worker->can_ask_cache = true;
  worker->disk_read_count = 0;
  worker->held = worker->closed = 0;
  worker->done_count = 0;
  worker->opens_held = false;
  worker->counted_waiting = false;
  worker->index = index;
  worker->turn_lane = -1;
  for (WorkerLane& lane : worker->lanes) {
    lane.state = LaneState::Free;
    StartFeed(&lane.feed);
  }
  return worker;
}

void FreeHashWorker(HashWorker* worker) {
  for (WorkerLane& lane : worker->lanes) CloseFeed(&lane.feed);
  delete worker;
}

void SettleWorker(HashQueue* queue, HashWorker* worker) {
  HandBackDone(queue, worker);
  if (worker->closed > 0) {
    worker->closed = 0;
    WakeHandleWaiters(queue);
  }
  if (WorkerWaits(worker)) {
    const Clock::time_point now = Clock::now();
    for (WorkerLane& lane : worker->lanes) {
      if (lane.state == LaneState::WaitingForHandle) {
        SettleWaitingLane(queue, worker, &lane, now);
      }
    }
    // A give-up is a result too.
    HandBackDone(queue, worker);
  }
  CountHandleWait(queue, worker);
  FollowStorage(queue, worker);
  if (worker->storage == StorageRotational) SettleTurn(queue, worker);
  if (!HashQueueStopping(queue) && !worker->opens_held) ClaimLanes(queue, worker);
}

bool StepWorker(HashQueue* queue, HashWorker* worker) {
  bool did = false;
  const int lanes = ScheduleLanes(&worker->schedule);
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

bool WorkerHoldsFiles(const HashWorker* worker) { return worker->held > 0; }

void HoldWorkerOpens(HashWorker* worker, bool held) { worker->opens_held = held; }
