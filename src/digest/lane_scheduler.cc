// The lane scheduler: whole blocks through the kernel, the rest scalar.
#include "digest/lane_scheduler.h"

#include <chrono>
#include <cstdint>
#include <new>

#include "digest/md5_chains.h"

namespace {

// Hashes with the scalar code what cannot go to the kernel: the bytes that
// complete a block already begun, and a tail shorter than a block. Returns
// with the lane at a block boundary holding whole blocks, or holding
// nothing.
void AlignLane(LaneBytes* lane) {
  if (lane->left == 0) return;
  const std::size_t waiting = Md5BytesWaiting(lane->context);
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

// One call of kernel over blocks whole blocks of lanes busy[0] to
// busy[count - 1], in the kernel's lanes 0 to count - 1; the kernel's other
// lanes read the first busy lane's blocks and their results are dropped.
void TransformLanes(LaneSchedule* schedule, const Md5LaneKernel* kernel,
                    const int* busy, int count, std::size_t blocks) {
  const unsigned char* data[Md5MaxLanes] = {};
  // On the stack, where its alignment is kept.
  Md5LaneStates states = {};
  for (int i = 0; i < kernel->lanes; ++i) data[i] = schedule->lanes[busy[0]].next;
  for (int i = 0; i < count; ++i) {
    const LaneBytes& lane = schedule->lanes[busy[i]];
    data[i] = lane.next;
    const std::uint32_t* words = Md5ChainingWords(lane.context);
    states.a[i] = words[0];
    states.b[i] = words[1];
    states.c[i] = words[2];
    states.d[i] = words[3];
  }
  kernel->transform(&states, data, blocks);
  for (int i = 0; i < count; ++i) {
    std::uint32_t* words = Md5ChainingWords(schedule->lanes[busy[i]].context);
    words[0] = states.a[i];
    words[1] = states.b[i];
    words[2] = states.c[i];
    words[3] = states.d[i];
  }
}

// The busy lanes' blocks, in the calls the split gives for their number.
void TransformSplit(LaneSchedule* schedule, int* busy, int count, std::size_t blocks) {
  while (count > 0) {
    int chains = schedule->split.first[count];
    // A lone lane goes through the scalar core in any case: one lane of a
    // vector kernel waits on the latency of its operations.
    if (chains == 0 && count == 1) chains = 1;
    if (chains == 0) {
      TransformLanes(schedule, schedule->kernel, busy, count, blocks);
      return;
    }
    count -= chains;
    TransformLanes(schedule, &Md5ChainKernels[chains - 1], busy + count, chains, blocks);
  }
}

// Seconds for the fastest of a few calls of kernel over blocks blocks of
// each of its lanes.
double TimeKernel(const Md5LaneKernel* kernel, const unsigned char* bytes,
                  std::size_t blocks) {
  const unsigned char* data[Md5MaxLanes];
  for (int i = 0; i < Md5MaxLanes; ++i) data[i] = bytes + 64 * blocks * i;
  Md5LaneStates states = {};
  double best = 1e9;
  for (int round = 0; round < 5; ++round) {
    const auto start = std::chrono::steady_clock::now();
    kernel->transform(&states, data, blocks);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  return best;
}

}  // namespace

LaneSplit MeasureLaneSplit(const Md5LaneKernel* kernel) {
  LaneSplit split = {};
  if (kernel->lanes < 2) return split;
  constexpr std::size_t Blocks = 64;
  static_assert(Md5MaxChains <= Md5MaxLanes);
  auto* bytes = new (std::nothrow) unsigned char[64 * Blocks * Md5MaxLanes]();
  if (bytes == nullptr) return split;
  TimeKernel(kernel, bytes, Blocks);  // brings the clock up to speed
  const double whole = TimeKernel(kernel, bytes, Blocks);
  double chain[Md5MaxChains + 1] = {};
  for (int n = 1; n <= Md5MaxChains; ++n) {
    chain[n] = TimeKernel(&Md5ChainKernels[n - 1], bytes, Blocks);
  }
  delete[] bytes;
  // cost[k]: the fastest way found for k busy lanes, chains first.
  double cost[Md5MaxLanes + 1] = {};
  for (int k = 1; k <= kernel->lanes; ++k) {
    cost[k] = whole;
    for (int n = 1; n <= Md5MaxChains && n <= k; ++n) {
      if (chain[n] + cost[k - n] < cost[k]) {
        cost[k] = chain[n] + cost[k - n];
        split.first[k] = static_cast<unsigned char>(n);
      }
    }
  }
  return split;
}

void StartLanes(LaneSchedule* schedule, const Md5LaneKernel* kernel,
                const LaneSplit& split) {
  schedule->kernel = kernel;
  schedule->split = split;
  for (LaneBytes& lane : schedule->lanes) lane = LaneBytes{nullptr, nullptr, 0};
}

int ScheduleLanes(const LaneSchedule* schedule) { return schedule->kernel->lanes; }

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

bool RunLanes(LaneSchedule* schedule) {
  const int lanes = schedule->kernel->lanes;
  bool hashed = false;
  std::size_t blocks = SIZE_MAX;
  int busy[Md5MaxLanes];
  int holding = 0;
  for (int i = 0; i < lanes; ++i) {
    LaneBytes& lane = schedule->lanes[i];
    if (lane.left == 0) continue;
    hashed = true;
    AlignLane(&lane);
    if (lane.left < 64) continue;
    if (lane.left / 64 < blocks) blocks = lane.left / 64;
    busy[holding++] = i;
  }
  if (holding == 0) return hashed;
  TransformSplit(schedule, busy, holding, blocks);
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
