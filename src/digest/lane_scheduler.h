// Buffers of several messages hashed together, one per lane of an MD5 lane
// kernel. The scheduler knows bytes and digests only: whoever fills a lane
// (a file, a test's buffer) owns the bytes and the context.
//
// Each run brings every lane to whole blocks: bytes that complete a block
// already begun, and a tail shorter than a block, go through the scalar
// code; then one kernel call hashes as many whole blocks as the lane with
// the fewest holds. The padding is the scalar code's too (Md5Final).
//
// A vector kernel takes as long for one busy lane as for all of them, each
// lane waiting on the latency of its chain of operations, while the
// integer units idle. A few busy lanes therefore go through the scalar
// chain kernels (md5_chains.h) instead, up to Md5MaxChains interleaved in
// one call, where that measures faster on this processor (the split).
#ifndef DORVANE_DIGEST_LANE_SCHEDULER_H_
#define DORVANE_DIGEST_LANE_SCHEDULER_H_

#include <cstddef>

#include "digest/md5.h"
#include "digest/md5_lanes.h"

struct LaneBytes {
  Md5Context* context;        // nullptr while the lane has no message
  const unsigned char* next;  // the first byte not yet hashed
  std::size_t left;           // bytes not yet hashed
};

// How k busy lanes are hashed: first[k] of them (1 to Md5MaxChains) go
// through the chain kernel of that many lanes, the other k - first[k] as
// first[k - first[k]] says; 0 is one call of the lane kernel for all k (the
// scalar transform for one lane). All zero: the lane kernel alone.
struct LaneSplit {
  unsigned char first[Md5MaxLanes + 1];
};

// The split fastest on this processor for kernel: each chain kernel and
// kernel are timed on a few blocks, a fraction of a millisecond.
LaneSplit MeasureLaneSplit(const Md5LaneKernel* kernel);

struct LaneSchedule {
  const Md5LaneKernel* kernel;
  LaneSplit split;
  LaneBytes lanes[Md5MaxLanes];
};

// Every lane empty.
void StartLanes(LaneSchedule* schedule, const Md5LaneKernel* kernel,
                const LaneSplit& split);

// The kernel's lanes.
int ScheduleLanes(const LaneSchedule* schedule);

// Gives lane the message whose digest builds up in context; its bytes
// follow with FeedLane.
void OpenLane(LaneSchedule* schedule, int lane, Md5Context* context);
// The lane's next size bytes of its message; the lane must have hashed what
// it had (LaneNeedsBytes). The bytes must stay put until then.
void FeedLane(LaneSchedule* schedule, int lane, const unsigned char* bytes,
              std::size_t size);
// Whether the lane has a message and has hashed every byte it was given.
bool LaneNeedsBytes(const LaneSchedule* schedule, int lane);
// Frees the lane; its context holds the message hashed so far.
void CloseLane(LaneSchedule* schedule, int lane);

// Hashes in every lane that holds bytes: scalar bytes up to a block
// boundary and tails shorter than a block, then one kernel call over the
// whole blocks that every lane holding them has. Returns false when no lane
// held a byte.
bool RunLanes(LaneSchedule* schedule);

#endif  // DORVANE_DIGEST_LANE_SCHEDULER_H_
