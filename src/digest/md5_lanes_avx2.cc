// The 8-lane kernel on AVX2. Each lane's block is loaded as two rows of
// eight words; each half of the eight lanes' blocks is transposed as an
// 8 x 8 matrix, so that one register holds one message word of all lanes.
#include <immintrin.h>

#include "digest/md5_kernels.h"
#include "digest/md5_lane_steps.h"

namespace {

constexpr int Lanes = 8;

// The message words of the eight lanes' blocks at offset.
__attribute__((target("avx2"))) void LoadWords(
    __m256i words[16], const unsigned char* const blocks[Md5MaxLanes],
    std::size_t offset) {
  for (int half = 0; half < 2; ++half) {
    __m256i row[Lanes];
    for (int i = 0; i < Lanes; ++i) {
      row[i] = _mm256_loadu_si256(
          reinterpret_cast<const __m256i*>(blocks[i] + offset + 32 * half));
    }
    // Pairs of lanes, then fours, within each 128-bit half of a register;
    // then the halves of the two fours make whole words.
    __m256i pairs[Lanes], fours[Lanes];
    for (int i = 0; i < Lanes; i += 2) {
      pairs[i] = _mm256_unpacklo_epi32(row[i], row[i + 1]);
      pairs[i + 1] = _mm256_unpackhi_epi32(row[i], row[i + 1]);
    }
    for (int i = 0; i < Lanes; i += 4) {
      fours[i] = _mm256_unpacklo_epi64(pairs[i], pairs[i + 2]);
      fours[i + 1] = _mm256_unpackhi_epi64(pairs[i], pairs[i + 2]);
      fours[i + 2] = _mm256_unpacklo_epi64(pairs[i + 1], pairs[i + 3]);
      fours[i + 3] = _mm256_unpackhi_epi64(pairs[i + 1], pairs[i + 3]);
    }
    for (int j = 0; j < 4; ++j) {
      words[8 * half + j] = _mm256_permute2x128_si256(fours[j], fours[4 + j], 0x20);
      words[8 * half + 4 + j] = _mm256_permute2x128_si256(fours[j], fours[4 + j], 0x31);
    }
  }
}

}  // namespace

#define LANE_ADD _mm256_add_epi32
#define LANE_AND _mm256_and_si256
#define LANE_ANDNOT _mm256_andnot_si256
#define LANE_OR _mm256_or_si256
#define LANE_XOR _mm256_xor_si256
#define LANE_SET1(t) _mm256_set1_epi32(static_cast<int>(t))
#define LANE_ROTATE(x, s) \
  _mm256_or_si256(_mm256_slli_epi32((x), (s)), _mm256_srli_epi32((x), 32 - (s)))

__attribute__((target("avx2"))) void Md5LanesAvx2(
    Md5LaneStates* states, const unsigned char* const blocks[Md5MaxLanes],
    std::size_t block_count) {
  const __m256i ones = _mm256_set1_epi32(-1);
  __m256i a = _mm256_load_si256(reinterpret_cast<const __m256i*>(states->a));
  __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(states->b));
  __m256i c = _mm256_load_si256(reinterpret_cast<const __m256i*>(states->c));
  __m256i d = _mm256_load_si256(reinterpret_cast<const __m256i*>(states->d));
  for (std::size_t n = 0; n < block_count; ++n) {
    __m256i words[16];
    LoadWords(words, blocks, 64 * n);
    const __m256i a0 = a, b0 = b, c0 = c, d0 = d;
    MD5_LANE_STEPS(MD5_LANE_F, MD5_LANE_G, MD5_LANE_H, MD5_LANE_I)
    a = _mm256_add_epi32(a, a0);
    b = _mm256_add_epi32(b, b0);
    c = _mm256_add_epi32(c, c0);
    d = _mm256_add_epi32(d, d0);
  }
  _mm256_store_si256(reinterpret_cast<__m256i*>(states->a), a);
  _mm256_store_si256(reinterpret_cast<__m256i*>(states->b), b);
  _mm256_store_si256(reinterpret_cast<__m256i*>(states->c), c);
  _mm256_store_si256(reinterpret_cast<__m256i*>(states->d), d);
}
