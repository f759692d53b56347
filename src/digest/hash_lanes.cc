// The lane hasher: queued files hashed together, one per kernel lane.
#include "digest/hash_lanes.h"

#include <cstring>

namespace {

HashJob& JobOf(LaneHasher* hasher, unsigned ticket) {
  return hasher->jobs[ticket % HashQueueSize];
}

bool IsOpen(const HashLane& lane) { return lane.file != INVALID_HANDLE_VALUE; }

bool AnyLaneOpen(const LaneHasher* hasher) {
  for (int i = 0; i < hasher->kernel->lanes; ++i) {
    if (IsOpen(hasher->lanes[i])) return true;
  }
  return false;
}

void Fail(HashJob* job) {
  job->result.ok = false;
  job->result.hex[0] = '\0';
  job->result.hashed_size = 0;
  job->done = true;
}

// Opening a FIFO or a device is an action of its own, so only what the
// system calls a regular file is opened.
bool IsRegularFile(const char* path) {
  const DWORD attributes = FileToHashAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Whether an open that failed may succeed once this hasher has closed the
// files it holds (their handles, or on Windows their share modes, which
// keep a second open of the same file out), or once the caller has closed
// handles of its own.
bool MayOpenLater(const LaneHasher* hasher, DWORD error) {
  if (error == ERROR_TOO_MANY_OPEN_FILES) return AnyLaneOpen(hasher) || !hasher->last_try;
  return error == ERROR_SHARING_VIOLATION && AnyLaneOpen(hasher);
}

// Opens the next queued file into the free lane. Returns false when no file
// can be opened now: none is waiting, opens are held, or the open must wait
// (it is tried again once a lane's file is closed or the caller releases
// handles). A file that cannot be opened otherwise gets its failed result
// and the next one is tried.
bool OpenNextFile(LaneHasher* hasher, HashLane* lane) {
  while (hasher->next_open != hasher->end && !hasher->opens_wait &&
         !hasher->opens_held) {
    HashJob& job = JobOf(hasher, hasher->next_open);
    if (job.check_type && !IsRegularFile(job.path)) {
      Fail(&job);
      ++hasher->next_open;
      continue;
    }
    HANDLE file = OpenFileToHash(job.path, job.open_flags);
    if (file == INVALID_HANDLE_VALUE && MayOpenLater(hasher, GetLastError())) {
      hasher->opens_wait = true;
      return false;
    }
    hasher->last_try = false;
    if (file == INVALID_HANDLE_VALUE) {
      Fail(&job);
      ++hasher->next_open;
      continue;
    }
    lane->job = hasher->next_open++;
    lane->file = file;
    lane->next = lane->buffer;
    lane->left = 0;
    BeginFileHash(file, &lane->state);
    return true;
  }
  return false;
}

void FinishLane(LaneHasher* hasher, HashLane* lane) {
  HashJob& job = JobOf(hasher, lane->job);
  job.result.ok = FinishFileHash(lane->file, &lane->state, job.result.hex,
                                 &job.result.hashed_size);
  job.done = true;
  CloseHandle(lane->file);
  lane->file = INVALID_HANDLE_VALUE;
  hasher->opens_wait = false;
}

// Brings the lane to whole blocks for the kernel: bytes that complete a
// partial block, or a tail shorter than a block, go through the scalar
// code; files that end are finished and the next one taken. Returns with
// the lane holding at least one whole block, or free.
void PrepareLane(LaneHasher* hasher, HashLane* lane) {
  for (;;) {
    if (!IsOpen(*lane) && !OpenNextFile(hasher, lane)) return;
    // Bytes already hashed that do not make up a whole block: they wait in
    // the context's block for the rest of it.
    const DWORD partial =
        static_cast<DWORD>((lane->state.count - lane->left) % 64);
    if (lane->left >= 64 && partial == 0) return;
    if (lane->left > 0) {
      const DWORD take =
          partial != 0 && lane->left > 64 - partial ? 64 - partial : lane->left;
      Md5Update(&lane->state.context, lane->next, take);
      lane->next += take;
      lane->left -= take;
      continue;
    }
    const DWORD got = ReadNextChunk(lane->file, lane->buffer, &lane->state);
    if (got == 0) {
      FinishLane(hasher, lane);
      continue;
    }
    lane->next = lane->buffer;
    lane->left = got;
  }
}

// The kernel over blocks whole blocks of every lane; free lanes read idle.
void TransformLanes(LaneHasher* hasher, const unsigned char* idle,
                    std::size_t blocks) {
  const int lanes = hasher->kernel->lanes;
  const unsigned char* data[Md5MaxLanes] = {};
  // On the stack, where its alignment is kept: the hasher itself lives on
  // the heap, whose blocks are aligned for less.
  Md5LaneStates states;
  for (int i = 0; i < lanes; ++i) {
    const HashLane& lane = hasher->lanes[i];
    data[i] = IsOpen(lane) ? lane.next : idle;
    const std::uint32_t* words = lane.state.context.state;
    states.a[i] = words[0];
    states.b[i] = words[1];
    states.c[i] = words[2];
    states.d[i] = words[3];
  }
  hasher->kernel->transform(&states, data, blocks);
  for (int i = 0; i < lanes; ++i) {
    std::uint32_t* words = hasher->lanes[i].state.context.state;
    words[0] = states.a[i];
    words[1] = states.b[i];
    words[2] = states.c[i];
    words[3] = states.d[i];
  }
}

// One kernel call over the whole blocks that every open lane holds, as many
// as the lane with the fewest has. Free lanes read the blocks of an open
// one, and their results are dropped. A lane open alone goes through the
// scalar transform instead: one lane of a kernel waits on the latency of
// vector operations and runs slower than the scalar core. Returns false
// when no lane is open.
bool RunKernel(LaneHasher* hasher) {
  const int lanes = hasher->kernel->lanes;
  std::size_t blocks = HashChunkSize / 64;
  HashLane* any = nullptr;
  int open = 0;
  for (int i = 0; i < lanes; ++i) {
    HashLane& lane = hasher->lanes[i];
    if (!IsOpen(lane)) continue;
    if (lane.left / 64 < blocks) blocks = lane.left / 64;
    any = &lane;
    ++open;
  }
  if (any == nullptr) return false;
  if (open == 1) {
    for (std::size_t n = 0; n < blocks; ++n) {
      Md5Transform(any->state.context.state, any->next + 64 * n);
    }
  } else {
    TransformLanes(hasher, any->next, blocks);
  }
  for (int i = 0; i < lanes; ++i) {
    HashLane& lane = hasher->lanes[i];
    if (!IsOpen(lane)) continue;
    Md5CountBlocks(&lane.state.context, blocks);
    lane.next += 64 * blocks;
    lane.left -= static_cast<DWORD>(64 * blocks);
  }
  return true;
}

}  // namespace

void StartHashing(LaneHasher* hasher, const Md5LaneKernel* kernel) {
  hasher->kernel = kernel;
  hasher->oldest = 0;
  hasher->next_open = 0;
  hasher->end = 0;
  hasher->opens_wait = false;
  hasher->last_try = false;
  hasher->opens_held = false;
  for (HashLane& lane : hasher->lanes) {
    lane.file = INVALID_HANDLE_VALUE;
    // Free lanes still hand their words to the kernel.
    Md5Init(&lane.state.context);
  }
}

bool HashQueueFull(const LaneHasher* hasher) {
  return hasher->end - hasher->oldest == HashQueueSize;
}

bool HashQueueEmpty(const LaneHasher* hasher) {
  return hasher->end == hasher->oldest;
}

unsigned QueueFileToHash(LaneHasher* hasher, const char* path, DWORD open_flags,
                         bool check_type) {
  HashJob& job = JobOf(hasher, hasher->end);
  std::size_t length = std::strlen(path);
  if (length > HashPathSize - 1) length = HashPathSize - 1;
  std::memcpy(job.path, path, length);
  job.path[length] = '\0';
  job.open_flags = open_flags;
  job.check_type = check_type;
  job.done = false;
  return hasher->end++;
}

bool AdvanceHashing(LaneHasher* hasher) {
  for (int i = 0; i < hasher->kernel->lanes; ++i) {
    PrepareLane(hasher, &hasher->lanes[i]);
  }
  return RunKernel(hasher);
}

void TakeHashResult(LaneHasher* hasher, HashResult* result) {
  HashJob& job = JobOf(hasher, hasher->oldest);
  while (!job.done) {
    if (AdvanceHashing(hasher)) continue;
    if (!hasher->opens_wait) break;
    // Waiting for handles with no file of ours open: the oldest file, next
    // to be opened, gets its last try.
    hasher->opens_wait = false;
    hasher->last_try = true;
  }
  // Every queued file is opened in turn, so the oldest one is done by the
  // time nothing is left to do.
  if (!job.done) Fail(&job);
  *result = job.result;
  result->path = job.path;
  ++hasher->oldest;
}

void CloseHashedFiles(LaneHasher* hasher) {
  hasher->opens_held = true;
  while (AdvanceHashing(hasher)) {
  }
  hasher->opens_held = false;
}

void ResumeOpening(LaneHasher* hasher) { hasher->opens_wait = false; }

void StopHashing(LaneHasher* hasher) {
  for (HashLane& lane : hasher->lanes) {
    if (IsOpen(lane)) CloseHandle(lane.file);
    lane.file = INVALID_HANDLE_VALUE;
  }
  hasher->oldest = hasher->next_open = hasher->end = 0;
  hasher->opens_wait = false;
  hasher->last_try = false;
}
