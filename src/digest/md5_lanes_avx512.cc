// The 16-lane kernel on AVX-512F: the rotations are single instructions
// and every round function is one ternary logic instruction. Each lane's
// block is one row of sixteen words; the rows are transposed so that one
// register holds one message word of all lanes.
#include <immintrin.h>

#include <cstdint>

#include "digest/md5_kernels.h"
#include "digest/md5_lane_steps.h"

namespace {

constexpr int Lanes = 16;

// The message words of the sixteen lanes' blocks at offset: pairs of lanes,
// then fours, within each 128-bit quarter of a register; then the quarters
// of the four fours make whole words.
__attribute__((target("avx512f"))) void LoadWords(
    __m512i words[16], const unsigned char* const blocks[Md5MaxLanes],
    std::size_t offset) {
  __m512i row[Lanes], pairs[Lanes], fours[Lanes];
  for (int i = 0; i < Lanes; ++i) row[i] = _mm512_loadu_si512(blocks[i] + offset);
  for (int i = 0; i < Lanes; i += 2) {
    pairs[i] = _mm512_unpacklo_epi32(row[i], row[i + 1]);
    pairs[i + 1] = _mm512_unpackhi_epi32(row[i], row[i + 1]);
  }
  // fours[4 * g + j] holds lanes 4g to 4g + 3 of words j, j + 4, j + 8
  // and j + 12, one per quarter.
  for (int i = 0; i < Lanes; i += 4) {
    fours[i] = _mm512_unpacklo_epi64(pairs[i], pairs[i + 2]);
    fours[i + 1] = _mm512_unpackhi_epi64(pairs[i], pairs[i + 2]);
    fours[i + 2] = _mm512_unpacklo_epi64(pairs[i + 1], pairs[i + 3]);
    fours[i + 3] = _mm512_unpackhi_epi64(pairs[i + 1], pairs[i + 3]);
  }
  for (int j = 0; j < 4; ++j) {
    const __m512i low01 = _mm512_shuffle_i32x4(fours[j], fours[4 + j], 0x44);
    const __m512i high01 = _mm512_shuffle_i32x4(fours[j], fours[4 + j], 0xEE);
    const __m512i low23 = _mm512_shuffle_i32x4(fours[8 + j], fours[12 + j], 0x44);
    const __m512i high23 = _mm512_shuffle_i32x4(fours[8 + j], fours[12 + j], 0xEE);
    words[j] = _mm512_shuffle_i32x4(low01, low23, 0x88);
    words[4 + j] = _mm512_shuffle_i32x4(low01, low23, 0xDD);
    words[8 + j] = _mm512_shuffle_i32x4(high01, high23, 0x88);
    words[12 + j] = _mm512_shuffle_i32x4(high01, high23, 0xDD);
  }
}

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

// Each round function as a ternary logic table over (b, c, d): F picks c
// where b is set and d elsewhere; G picks b where d is set and c
// elsewhere; H is the parity; I is c ^ (b | ~d).
#define AVX512_STEP(a, b, c, d, k, t, s, table)                                \
  (a) = _mm512_add_epi32(                                                      \
      (a), _mm512_add_epi32(words[k], _mm512_set1_epi32(static_cast<int>(t)))); \
  (a) = _mm512_add_epi32((a), _mm512_ternarylogic_epi32((b), (c), (d), table)); \
  (a) = _mm512_add_epi32(_mm512_rol_epi32((a), (s)), (b));
#define AVX512_F(a, b, c, d, k, t, s) AVX512_STEP(a, b, c, d, k, t, s, 0xCA)
#define AVX512_G(a, b, c, d, k, t, s) AVX512_STEP(a, b, c, d, k, t, s, 0xE4)
#define AVX512_H(a, b, c, d, k, t, s) AVX512_STEP(a, b, c, d, k, t, s, 0x96)
#define AVX512_I(a, b, c, d, k, t, s) AVX512_STEP(a, b, c, d, k, t, s, 0x39)

namespace {

// The compression function on one block of every lane.
__attribute__((target("avx512f"))) void Compress(__m512i state[4],
                                                 const __m512i words[16]) {
  __m512i a = state[0], b = state[1], c = state[2], d = state[3];
  MD5_LANE_STEPS(AVX512_F, AVX512_G, AVX512_H, AVX512_I)
  state[0] = _mm512_add_epi32(state[0], a);
  state[1] = _mm512_add_epi32(state[1], b);
  state[2] = _mm512_add_epi32(state[2], c);
  state[3] = _mm512_add_epi32(state[3], d);
}

__attribute__((target("avx512f"))) void LoadStates(const Md5LaneStates* states,
                                                   __m512i state[4]) {
  state[0] = _mm512_load_si512(states->a);
  state[1] = _mm512_load_si512(states->b);
  state[2] = _mm512_load_si512(states->c);
  state[3] = _mm512_load_si512(states->d);
}

__attribute__((target("avx512f"))) void StoreStates(const __m512i state[4],
                                                    Md5LaneStates* states) {
  _mm512_store_si512(states->a, state[0]);
  _mm512_store_si512(states->b, state[1]);
  _mm512_store_si512(states->c, state[2]);
  _mm512_store_si512(states->d, state[3]);
}

}  // namespace

__attribute__((target("avx512f"))) void Md5LanesAvx512(
    Md5LaneStates* states, const unsigned char* const blocks[Md5MaxLanes],
    std::size_t block_count) {
  __m512i state[4];
  LoadStates(states, state);
  for (std::size_t n = 0; n < block_count; ++n) {
    __m512i words[16];
    LoadWords(words, blocks, 64 * n);
    Compress(state, words);
  }
  StoreStates(state, states);
}

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
