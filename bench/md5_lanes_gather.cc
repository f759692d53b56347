// A variant of the AVX-512 kernel that loads the message words with
// gathers instead of shuffles: slower on the processors measured, kept for
// the lane benchmark's comparison (bench/README.md) and checked against the
// scalar core by the kernel tests.
#include "md5_lanes_gather.h"

#include <immintrin.h>

#include <cstdint>

#include "digest/md5_kernels.h"
#include "digest/md5_lanes_avx512.h"

namespace {

constexpr int Lanes = 16;

// The same words gathered: lane i's word k lies at base + 4 * k + index i.
__attribute__((target("avx512f"))) void GatherWords(
    __m512i words[16], const unsigned char* base, __m512i index) {
  for (int k = 0; k < 16; ++k) {
    words[k] = _mm512_i32gather_epi32(index, base + 4 * k, 1);
  }
}

// The distances of the lanes' blocks from lane 0's, when they all fit the
// 32-bit indices of a gather.
__attribute__((target("avx512f"))) bool GatherIndex(
    const unsigned char* const blocks[Md5MaxLanes], __m512i* index) {
  alignas(64) std::int32_t distance[Lanes];
  const auto first = reinterpret_cast<std::uintptr_t>(blocks[0]);
  for (int i = 0; i < Lanes; ++i) {
    const auto apart = static_cast<std::intptr_t>(
        reinterpret_cast<std::uintptr_t>(blocks[i]) - first);
    if (apart < INT32_MIN || apart > INT32_MAX) return false;
    distance[i] = static_cast<std::int32_t>(apart);
  }
  *index = _mm512_load_si512(distance);
  return true;
}

}  // namespace

__attribute__((target("avx512f"))) void Md5LanesAvx512Gather(
    Md5LaneStates* states, const unsigned char* const blocks[Md5MaxLanes],
    std::size_t block_count) {
  __m512i index;
  if (block_count == 0) return;
  if (!GatherIndex(blocks, &index)) {
    Md5LanesAvx512(states, blocks, block_count);
    return;
  }
  __m512i state[4];
  LoadStates(states, state);
  for (std::size_t n = 0; n < block_count; ++n) {
    __m512i words[16];
    GatherWords(words, blocks[0] + 64 * n, index);
    Compress(state, words);
  }
  StoreStates(state, states);
}
