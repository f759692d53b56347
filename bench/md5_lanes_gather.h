// The AVX-512 lane kernel with gathered message words (see the .cc).
#ifndef DORVANE_BENCH_MD5_LANES_GATHER_H_
#define DORVANE_BENCH_MD5_LANES_GATHER_H_

#include <cstddef>

#include "digest/md5_lanes.h"

void Md5LanesAvx512Gather(Md5LaneStates* states,
                          const unsigned char* const blocks[Md5MaxLanes],
                          std::size_t block_count);

#endif  // DORVANE_BENCH_MD5_LANES_GATHER_H_
