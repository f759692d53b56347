// MD5 on the integer units: one to four messages whose steps are
// interleaved, so that while one chain waits on its last result the others
// fill the processor's other arithmetic units. The step list is the lane
// kernels' own (md5_lane_steps.h), over 32-bit words; with one chain it is
// the scalar core, Md5Transform.
#include <cstdint>
#include <cstring>

#include "digest/md5.h"
#include "digest/md5_chains.h"
#include "digest/md5_kernels.h"
#include "digest/md5_lane_steps.h"

namespace {

std::uint32_t LoadLittle(const unsigned char* bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap32(word);
#endif
  return word;
}

constexpr std::uint32_t RotateLeft(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

#define LANE_ADD(x, y) ((x) + (y))
#define LANE_AND(x, y) ((x) & (y))
#define LANE_ANDNOT(x, y) (~(x) & (y))
#define LANE_OR(x, y) ((x) | (y))
#define LANE_XOR(x, y) ((x) ^ (y))
#define LANE_ROTATE(x, s) RotateLeft((x), (s))
#define LANE_SET1(t) static_cast<std::uint32_t>(t)

// A block's message words, read where they lie as the steps need them.
struct BlockWords {
  const unsigned char* bytes;
  std::uint32_t operator[](int k) const { return LoadLittle(bytes + 4 * k); }
};

// One block of each of Groups messages, their steps interleaved; state[g]
// and block[g] are message g's.
template <int Groups>
inline __attribute__((always_inline)) void CompressChains(
    std::uint32_t* const state[Groups], const unsigned char* const block[Groups]) {
  constexpr std::uint32_t ones = 0xFFFFFFFFu;
  BlockWords words[Groups];
  std::uint32_t a[Groups], b[Groups], c[Groups], d[Groups];
  _Pragma("GCC unroll 4") for (int g = 0; g < Groups; ++g) {
    words[g].bytes = block[g];
    a[g] = state[g][0], b[g] = state[g][1], c[g] = state[g][2], d[g] = state[g][3];
  }
  MD5_LANE_STEPS(MD5_LANE_F, MD5_LANE_G, MD5_LANE_H, MD5_LANE_I)
  _Pragma("GCC unroll 4") for (int g = 0; g < Groups; ++g) {
    state[g][0] += a[g], state[g][1] += b[g], state[g][2] += c[g], state[g][3] += d[g];
  }
}

template <int Groups>
void Md5Chains(Md5LaneStates* states, const unsigned char* const blocks[Md5MaxLanes],
               std::size_t block_count) {
  std::uint32_t words[Groups][4];
  std::uint32_t* state[Groups];
  for (int g = 0; g < Groups; ++g) {
    words[g][0] = states->a[g], words[g][1] = states->b[g];
    words[g][2] = states->c[g], words[g][3] = states->d[g];
    state[g] = words[g];
  }
  for (std::size_t n = 0; n < block_count; ++n) {
    const unsigned char* block[Groups];
    for (int g = 0; g < Groups; ++g) block[g] = blocks[g] + 64 * n;
    CompressChains<Groups>(state, block);
  }
  for (int g = 0; g < Groups; ++g) {
    states->a[g] = words[g][0], states->b[g] = words[g][1];
    states->c[g] = words[g][2], states->d[g] = words[g][3];
  }
}

}  // namespace

void Md5Transform(std::uint32_t state[4], const unsigned char block[64]) {
  std::uint32_t* const states[1] = {state};
  const unsigned char* const blocks[1] = {block};
  CompressChains<1>(states, blocks);
}

const Md5LaneKernel Md5ScalarKernel = {"scalar", 1, Md5Chains<1>};

const Md5LaneKernel Md5ChainKernels[Md5MaxChains] = {
    {"scalar", 1, Md5Chains<1>},
    {"scalar2", 2, Md5Chains<2>},
    {"scalar3", 3, Md5Chains<3>},
    {"scalar4", 4, Md5Chains<4>},
};
