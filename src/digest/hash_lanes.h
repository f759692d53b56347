// Many files hashed at once: one file per lane of an MD5 lane kernel.
//
// Files are queued in order and their results taken back in the same
// order. Up to one file per lane is open at a time; each is hashed exactly
// as HashFile does it (opened without sharing, its size asked before every
// HashChunkSize read, growth followed within the same bound, the final
// size and position check), but the whole blocks of all open files go
// through one kernel call, and a lane whose file ends takes the next queued
// file. The rest of a file's blocks, and its padding, go through the scalar
// MD5 code.
#ifndef DORVANE_DIGEST_HASH_LANES_H_
#define DORVANE_DIGEST_HASH_LANES_H_

#include <cstdint>

#include "digest/hash_file.h"
#include "digest/md5.h"
#include "digest/md5_lanes.h"
#include "platform/win32.h"

// Files queued ahead of the oldest one whose result is still to be taken:
// enough to keep the lanes busy with small files while a large one is
// hashed; each costs about a kilobyte.
constexpr unsigned HashQueueSize = 1024;
// Room for a queued path and its NUL.
constexpr unsigned HashPathSize = 1024;

struct HashResult {
  const char* path;            // as queued; valid until the next file is queued
  bool ok;                     // the digest was computed
  char hex[HexDigestSize];     // empty when not ok
  std::uint64_t hashed_size;   // the size the digest covers; 0 when not ok
};

struct HashJob {
  char path[HashPathSize];
  DWORD open_flags;  // ORed into CreateFileA's flags and attributes
  bool done;
  HashResult result;
};

struct HashLane {
  unsigned job;  // ticket of the file in this lane; meaningful while open
  HANDLE file;   // INVALID_HANDLE_VALUE when the lane is free
  FileHashState state;
  const unsigned char* next;  // the first byte of buffer not yet hashed
  DWORD left;                 // bytes of buffer not yet hashed
  unsigned char buffer[HashChunkSize];
};

// Tickets count up from 0; job t lives in jobs[t % HashQueueSize].
struct LaneHasher {
  const Md5LaneKernel* kernel;
  unsigned oldest;     // the next result to be taken
  unsigned next_open;  // the next file to open
  unsigned end;        // one past the newest queued file
  // An open failed for lack of handles: no open is tried again until a
  // lane's file is closed or the caller releases handles of its own.
  bool opens_wait;
  // The next open that fails for lack of handles while no lane holds a
  // file is the file's last try: it fails then.
  bool last_try;
  // The caller asked for the open files to be finished without opening
  // others.
  bool opens_held;
  HashJob jobs[HashQueueSize];
  HashLane lanes[Md5MaxLanes];
};

// Prepares an empty hasher for kernel. The hasher is large (over a
// megabyte): give it heap storage, not a stack.
void StartHashing(LaneHasher* hasher, const Md5LaneKernel* kernel);

// Whether another file can be queued.
bool HashQueueFull(const LaneHasher* hasher);
// Whether no result is waiting to be taken.
bool HashQueueEmpty(const LaneHasher* hasher);

// Queues the file at path (at most HashPathSize - 1 characters; the walk's
// and the verifier's paths always fit) and returns its ticket. The queue
// must not be full. open_flags go to CreateFileA beside
// FILE_ATTRIBUTE_NORMAL, which opens nothing but a regular file.
unsigned QueueFileToHash(LaneHasher* hasher, const char* path, DWORD open_flags);
// Queues path as a file that fails without being opened; its result comes
// in its turn like any other. The queue must not be full.
unsigned QueueRefusedFile(LaneHasher* hasher, const char* path);

// Hashes until the oldest queued file has its result, then hands the result
// out and takes the file off the queue. The queue must not be empty. An
// open that fails for lack of handles waits while other lanes hold files,
// and while the caller may still release handles of its own (as the walk
// does when it leaves a directory); so does one refused for sharing while
// other lanes hold files (on Windows one of them may hold the same file
// under another name, or the same name queued twice). A file that still
// cannot be opened when nothing else is left to wait for fails.
void TakeHashResult(LaneHasher* hasher, HashResult* result);

// One step: opens queued files into free lanes, reads where a lane has
// nothing left to hash, finishes the files that ended, and runs the kernel
// once over the lanes' whole blocks. Returns false when there was nothing
// to do: no file open, and none that can be opened now.
bool AdvanceHashing(LaneHasher* hasher);

// Hashes the files open now to their ends without opening others, so that
// their handles are free again; the results wait to be taken.
void CloseHashedFiles(LaneHasher* hasher);

// Tells the hasher that the caller closed handles of its own: an open that
// waits for handles is tried again.
void ResumeOpening(LaneHasher* hasher);

// Closes every file still open and forgets the queue; for a run that stops
// before taking every result.
void StopHashing(LaneHasher* hasher);

#endif  // DORVANE_DIGEST_HASH_LANES_H_
