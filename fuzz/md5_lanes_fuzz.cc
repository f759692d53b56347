// Fuzz target: every lane kernel this machine runs gives, in every lane,
// what Md5Transform gives on that lane's blocks alone, and leaves the
// lanes past its own alone.
//
// Input: byte 0 is the block count (0 to 7); the next 256 bytes (cycled
// when short) the starting states; the rest is cut into the lanes'
// messages, one after the other, cycled when short.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "digest/md5.h"
#include "digest/md5_lanes.h"

namespace {

constexpr std::size_t StateBytes = 4 * 4 * Md5MaxLanes;

std::uint32_t Word(const std::uint8_t* data, std::size_t size, std::size_t at) {
  std::uint32_t word = 0;
  for (int i = 0; i < 4; ++i) word = word << 8 | data[(at + i) % size];
  return word;
}

void Check(const Md5LaneKernel& kernel, const Md5LaneStates& start,
           const std::vector<unsigned char>* messages, std::size_t blocks) {
  Md5LaneStates states = start;
  const unsigned char* pointers[Md5MaxLanes] = {};
  for (int lane = 0; lane < kernel.lanes; ++lane) pointers[lane] = messages[lane].data();
  kernel.transform(&states, pointers, blocks);
  for (int lane = 0; lane < Md5MaxLanes; ++lane) {
    std::uint32_t state[4] = {start.a[lane], start.b[lane], start.c[lane], start.d[lane]};
    for (std::size_t n = 0; lane < kernel.lanes && n < blocks; ++n) {
      Md5Transform(state, pointers[lane] + 64 * n);
    }
    if (states.a[lane] != state[0] || states.b[lane] != state[1] ||
        states.c[lane] != state[2] || states.d[lane] != state[3]) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t blocks = data[0] % 8;
  const std::uint8_t* rest = data + 1;
  const std::size_t rest_size = size - 1;

  Md5LaneStates start = {};
  std::uint32_t* words[4] = {start.a, start.b, start.c, start.d};
  for (std::size_t i = 0; rest_size > 0 && i < 4 * Md5MaxLanes; ++i) {
    words[i % 4][i / 4] = Word(rest, rest_size, 4 * i);
  }
  // Each lane's message in its own allocation of exactly its length, so a
  // read past it is caught.
  const std::uint8_t* text = rest_size > StateBytes ? rest + StateBytes : rest;
  const std::size_t text_size = rest_size > StateBytes ? rest_size - StateBytes : rest_size;
  std::vector<unsigned char> messages[Md5MaxLanes];
  for (int lane = 0; lane < Md5MaxLanes; ++lane) {
    messages[lane].resize(64 * blocks);
    for (std::size_t i = 0; text_size > 0 && i < messages[lane].size(); ++i) {
      messages[lane][i] = text[(64 * blocks * lane + i) % text_size];
    }
  }
  const Md5LaneKernel* kernels[Md5MaxLanes];
  const int count = UsableMd5LaneKernels(kernels, Md5MaxLanes);
  for (int i = 0; i < count; ++i) Check(*kernels[i], start, messages, blocks);
  return 0;
}
