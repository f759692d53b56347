// The 16-lane kernel on AVX2: two groups of eight lanes, one lane in each
// 32-bit slot of a register. Each lane's block is loaded as two rows of
// eight words; each half of eight lanes' blocks is transposed as an 8 x 8
// matrix, so that one register holds one message word of eight lanes.
#include <immintrin.h>

#include "digest/md5_kernels.h"
#include "digest/md5_lane_steps.h"

namespace {

constexpr int Width = 8;
constexpr int Groups = 2;

// The message words of eight lanes' blocks at offset.
__attribute__((target("avx2"))) void LoadWords(
    __m256i words[16], const unsigned char* const blocks[Width],
    std::size_t offset) {
  for (int half = 0; half < 2; ++half) {
    __m256i row[Width];
    for (int i = 0; i < Width; ++i) {
      row[i] = _mm256_loadu_si256(
          reinterpret_cast<const __m256i*>(blocks[i] + offset + 32 * half));
    }
    // Pairs of lanes, then fours, within each 128-bit half of a register;
    // then the halves of the two fours make whole words.
    __m256i pairs[Width], fours[Width];
    for (int i = 0; i < Width; i += 2) {
      pairs[i] = _mm256_unpacklo_epi32(row[i], row[i + 1]);
      pairs[i + 1] = _mm256_unpackhi_epi32(row[i], row[i + 1]);
    }
    for (int i = 0; i < Width; i += 4) {
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
#define LANE_LOAD(row) _mm256_load_si256(reinterpret_cast<const __m256i*>(row))
#define LANE_STORE(row, x) _mm256_store_si256(reinterpret_cast<__m256i*>(row), (x))
#define LANE_ROTATE(x, s) \
  _mm256_or_si256(_mm256_slli_epi32((x), (s)), _mm256_srli_epi32((x), 32 - (s)))

__attribute__((target("avx2"))) void Md5LanesAvx2(
    Md5LaneStates* states, const unsigned char* const blocks[Md5MaxLanes],
    std::size_t block_count) {
  MD5_LANE_KERNEL_BODY(__m256i)
}
