#include "digest/md5_lanes.h"

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "digest/md5.h"
#include "digest/md5_chains.h"
#include "digest/md5_lanes_check.h"

void ExpectLanesMatchScalar(const Md5LaneKernel& kernel) {
  std::mt19937 random(kernel.lanes);
  for (const std::size_t blocks : {0, 1, 2, 3, 17}) {
    Md5LaneStates states;
    std::uint32_t* words[4] = {states.a, states.b, states.c, states.d};
    std::uint32_t expected[4][Md5MaxLanes];
    std::vector<unsigned char> data[Md5MaxLanes];
    const unsigned char* pointers[Md5MaxLanes] = {};
    for (int lane = 0; lane < Md5MaxLanes; ++lane) {
      std::uint32_t state[4];
      for (int w = 0; w < 4; ++w) words[w][lane] = state[w] = random();
      if (lane < kernel.lanes) {
        // Its own allocation, cut to what the lane may read.
        const std::size_t skew = 1 + lane % 7;
        data[lane].resize(skew + 64 * blocks);
        for (auto& byte : data[lane]) byte = static_cast<unsigned char>(random());
        pointers[lane] = data[lane].data() + skew;
        for (std::size_t n = 0; n < blocks; ++n) {
          Md5Transform(state, pointers[lane] + 64 * n);
        }
      }
      for (int w = 0; w < 4; ++w) expected[w][lane] = state[w];
    }
    kernel.transform(&states, pointers, blocks);
    for (int w = 0; w < 4; ++w) {
      for (int lane = 0; lane < Md5MaxLanes; ++lane) {
        EXPECT_EQ(words[w][lane], expected[w][lane])
            << kernel.name << ", " << blocks << " blocks, word " << "abcd"[w]
            << " of lane " << lane;
      }
    }
  }
}

namespace {

TEST(Md5LaneKernels, EveryUsableKernelMatchesTheScalarCore) {
  const Md5LaneKernel* kernels[Md5MaxLanes];
  const int count = UsableMd5LaneKernels(kernels, Md5MaxLanes);
  ASSERT_GE(count, 1);
  EXPECT_STREQ(kernels[0]->name, "scalar");
  for (int i = 0; i < count; ++i) ExpectLanesMatchScalar(*kernels[i]);
  for (const Md5LaneKernel& chains : Md5ChainKernels) ExpectLanesMatchScalar(chains);
}

}  // namespace
