// The scalar MD5 core as lane kernels of one to Md5MaxChains lanes, each
// lane a chain of integer operations of its own (md5_chains.cc).
#ifndef DORVANE_DIGEST_MD5_CHAINS_H_
#define DORVANE_DIGEST_MD5_CHAINS_H_

#include "digest/md5_lanes.h"

constexpr int Md5MaxChains = 4;

// Md5ChainKernels[n - 1] hashes n messages, interleaved.
extern const Md5LaneKernel Md5ChainKernels[Md5MaxChains];

#endif  // DORVANE_DIGEST_MD5_CHAINS_H_
