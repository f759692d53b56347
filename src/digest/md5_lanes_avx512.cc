// The 16-lane kernel on AVX-512F: the rotations are single instructions
// and every round function is one ternary logic instruction. Each lane's
// block is one row of sixteen words; the rows are transposed so that one
// register holds one message word of all lanes.
#include <immintrin.h>

#include <cstdint>

#include "digest/md5_kernels.h"
#include "digest/md5_lanes_avx512.h"

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
