// The 16-lane kernel on SSE2: four groups of four lanes, one lane in each
// 32-bit slot of a register. Each lane's block is loaded as four rows of
// four words and transposed, so that one register holds one message word
// of four lanes.
#include <emmintrin.h>

#include "digest/md5_kernels.h"
#include "digest/md5_lane_steps.h"

namespace {

constexpr int Width = 4;
constexpr int Groups = 4;

// The message words of four lanes' blocks at offset.
__attribute__((target("sse2"))) void LoadWords(
    __m128i words[16], const unsigned char* const blocks[Width],
    std::size_t offset) {
  for (int q = 0; q < 4; ++q) {
    __m128i row[Width];
    for (int i = 0; i < Width; ++i) {
      row[i] = _mm_loadu_si128(
          reinterpret_cast<const __m128i*>(blocks[i] + offset + 16 * q));
    }
    const __m128i low01 = _mm_unpacklo_epi32(row[0], row[1]);
    const __m128i high01 = _mm_unpackhi_epi32(row[0], row[1]);
    const __m128i low23 = _mm_unpacklo_epi32(row[2], row[3]);
    const __m128i high23 = _mm_unpackhi_epi32(row[2], row[3]);
    words[4 * q] = _mm_unpacklo_epi64(low01, low23);
    words[4 * q + 1] = _mm_unpackhi_epi64(low01, low23);
    words[4 * q + 2] = _mm_unpacklo_epi64(high01, high23);
    words[4 * q + 3] = _mm_unpackhi_epi64(high01, high23);
  }
}

}  // namespace

#define LANE_ADD _mm_add_epi32
#define LANE_AND _mm_and_si128
#define LANE_ANDNOT _mm_andnot_si128
#define LANE_OR _mm_or_si128
#define LANE_XOR _mm_xor_si128
#define LANE_SET1(t) _mm_set1_epi32(static_cast<int>(t))
#define LANE_LOAD(row) _mm_load_si128(reinterpret_cast<const __m128i*>(row))
#define LANE_STORE(row, x) _mm_store_si128(reinterpret_cast<__m128i*>(row), (x))
#define LANE_ROTATE(x, s) \
  _mm_or_si128(_mm_slli_epi32((x), (s)), _mm_srli_epi32((x), 32 - (s)))

__attribute__((target("sse2"))) void Md5LanesSse2(
    Md5LaneStates* states, const unsigned char* const blocks[Md5MaxLanes],
    std::size_t block_count) {
  MD5_LANE_KERNEL_BODY(__m128i)
}
