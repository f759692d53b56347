// The lane scheduler: whole blocks through the kernel, the rest scalar.
#include "digest/lane_scheduler.h"

#include <cstdint>

namespace {

// Bytes of the lane's context waiting for the rest of their block.
std::size_t WaitingInBlock(const Md5Context& context) {
  return (context.bit_count[0] / 8) % 64;
}

// Hashes with the scalar code what cannot go to the kernel: the bytes that
// complete a block already begun, and a tail shorter than a block. Returns
// with the lane at a block boundary holding whole blocks, or holding
// nothing.
void AlignLane(LaneBytes* lane) {
  if (lane->left == 0) return;
  const std::size_t waiting = WaitingInBlock(*lane->context);
  std::size_t take = 0;
  if (waiting != 0) {
    take = 64 - waiting < lane->left ? 64 - waiting : lane->left;
  } else if (lane->left < 64) {
    take = lane->left;
  }
  if (take == 0) return;
  Md5Update(lane->context, lane->next, static_cast<std::uint32_t>(take));
  lane->next += take;
  lane->left -= take;
  if (lane->left > 0 && lane->left < 64) {
    Md5Update(lane->context, lane->next, static_cast<std::uint32_t>(lane->left));
    lane->next += lane->left;
    lane->left = 0;
  }
}

// One kernel call over blocks whole blocks of every lane that holds them;
// the other lanes read the first such lane's blocks and their results are
// dropped.
void TransformLanes(LaneSchedule* schedule, const unsigned char* idle,
                    std::size_t blocks) {
  const int lanes = schedule->kernel->lanes;
  const unsigned char* data[Md5MaxLanes] = {};
  // On the stack, where its alignment is kept.
  Md5LaneStates states = {};
  for (int i = 0; i < lanes; ++i) {
    const LaneBytes& lane = schedule->lanes[i];
    const bool busy = lane.left >= 64;
    data[i] = busy ? lane.next : idle;
    if (!busy) continue;
    const std::uint32_t* words = lane.context->state;
    states.a[i] = words[0];
    states.b[i] = words[1];
    states.c[i] = words[2];
    states.d[i] = words[3];
  }
  schedule->kernel->transform(&states, data, blocks);
  for (int i = 0; i < lanes; ++i) {
    if (schedule->lanes[i].left < 64) continue;
    std::uint32_t* words = schedule->lanes[i].context->state;
    words[0] = states.a[i];
    words[1] = states.b[i];
    words[2] = states.c[i];
    words[3] = states.d[i];
  }
}

}  // namespace

void StartLanes(LaneSchedule* schedule, const Md5LaneKernel* kernel) {
  schedule->kernel = kernel;
  for (LaneBytes& lane : schedule->lanes) lane = LaneBytes{nullptr, nullptr, 0};
}

void OpenLane(LaneSchedule* schedule, int lane, Md5Context* context) {
  schedule->lanes[lane] = LaneBytes{context, nullptr, 0};
}

void FeedLane(LaneSchedule* schedule, int lane, const unsigned char* bytes,
              std::size_t size) {
  schedule->lanes[lane].next = bytes;
  schedule->lanes[lane].left = size;
}

bool LaneNeedsBytes(const LaneSchedule* schedule, int lane) {
  return schedule->lanes[lane].context != nullptr && schedule->lanes[lane].left == 0;
}

void CloseLane(LaneSchedule* schedule, int lane) {
  schedule->lanes[lane] = LaneBytes{nullptr, nullptr, 0};
}

// A lane holding blocks alone goes through the scalar transform: one lane
// of a kernel waits on the latency of vector operations and runs slower
// than the scalar core.
bool RunLanes(LaneSchedule* schedule) {
  const int lanes = schedule->kernel->lanes;
  bool hashed = false;
  std::size_t blocks = SIZE_MAX;
  LaneBytes* any = nullptr;
  int holding = 0;
  for (int i = 0; i < lanes; ++i) {
    LaneBytes& lane = schedule->lanes[i];
    if (lane.left == 0) continue;
    hashed = true;
    AlignLane(&lane);
    if (lane.left < 64) continue;
    if (lane.left / 64 < blocks) blocks = lane.left / 64;
    any = &lane;
    ++holding;
  }
  if (any == nullptr) return hashed;
  if (holding == 1) {
    for (std::size_t n = 0; n < blocks; ++n) {
      Md5Transform(any->context->state, any->next + 64 * n);
    }
  } else {
    TransformLanes(schedule, any->next, blocks);
  }
  for (int i = 0; i < lanes; ++i) {
    LaneBytes& lane = schedule->lanes[i];
    if (lane.left < 64) continue;
    Md5CountBlocks(lane.context, blocks);
    lane.next += 64 * blocks;
    lane.left -= 64 * blocks;
    // A tail shorter than a block is hashed now, so that a lane whose
    // message ends here is done in this run.
    if (lane.left < 64) AlignLane(&lane);
  }
  return true;
}
