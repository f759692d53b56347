// The scalar transform run lane by lane as a lane kernel of any width from
// 1 to Md5MaxLanes, so that the lane hasher is tried with lane counts the
// machine's kernels do not have (the tests and the lane hasher's fuzz
// target).
#ifndef DORVANE_TESTS_DIGEST_SCALAR_LANES_H_
#define DORVANE_TESTS_DIGEST_SCALAR_LANES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "digest/md5.h"
#include "digest/md5_lanes.h"

template <int Lanes>
void ScalarLanes(Md5LaneStates* states, const unsigned char* const blocks[Md5MaxLanes],
                 std::size_t block_count) {
  for (int lane = 0; lane < Lanes; ++lane) {
    std::uint32_t words[4] = {states->a[lane], states->b[lane], states->c[lane], states->d[lane]};
    for (std::size_t i = 0; i < block_count; ++i) Md5Transform(words, blocks[lane] + 64 * i);
    states->a[lane] = words[0];
    states->b[lane] = words[1];
    states->c[lane] = words[2];
    states->d[lane] = words[3];
  }
}

inline constexpr const char* ScalarLaneNames[Md5MaxLanes] = {
    "scalar in 1 lane",   "scalar in 2 lanes",  "scalar in 3 lanes",  "scalar in 4 lanes",
    "scalar in 5 lanes",  "scalar in 6 lanes",  "scalar in 7 lanes",  "scalar in 8 lanes",
    "scalar in 9 lanes",  "scalar in 10 lanes", "scalar in 11 lanes", "scalar in 12 lanes",
    "scalar in 13 lanes", "scalar in 14 lanes", "scalar in 15 lanes", "scalar in 16 lanes"};

template <std::size_t... Index>
constexpr std::array<Md5LaneKernel, sizeof...(Index)> MakeScalarLaneKernels(
    std::index_sequence<Index...>) {
  return {{{ScalarLaneNames[Index], static_cast<int>(Index) + 1,
            ScalarLanes<static_cast<int>(Index) + 1>}...}};
}

// ScalarLaneKernels[n - 1] has n lanes.
inline constexpr std::array<Md5LaneKernel, Md5MaxLanes> ScalarLaneKernels =
    MakeScalarLaneKernels(std::make_index_sequence<Md5MaxLanes>());

#endif  // DORVANE_TESTS_DIGEST_SCALAR_LANES_H_
