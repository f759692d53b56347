// The lane kernels themselves and the pure parts of choosing one, for the
// processor-specific kernel tables, the tests and the benchmark. The
// program itself goes through md5_lanes.h.
#ifndef DORVANE_DIGEST_MD5_KERNELS_H_
#define DORVANE_DIGEST_MD5_KERNELS_H_

#include <cstdint>

#include "digest/md5_lanes.h"

// One lane, Md5Transform per block: there on every processor.
extern const Md5LaneKernel Md5ScalarKernel;

// The kernel named requested among kernels[0] to kernels[count - 1] (the
// scalar one first, the best one last); the best one when requested is
// null or names none of them.
const Md5LaneKernel* PickMd5LaneKernel(const char* requested,
                                       const Md5LaneKernel* const* kernels,
                                       int count);

// x86 only (md5_kernels_x86.cc and the kernels it lists).

// Instruction sets the processor has and the operating system saves the
// registers of, as bits of one set.
constexpr unsigned Md5FeatureSse2 = 1;
constexpr unsigned Md5FeatureAvx2 = 2;
constexpr unsigned Md5FeatureAvx512 = 4;

// The CPUID and XGETBV words the features are read from.
struct Md5CpuWords {
  std::uint32_t max_leaf;   // CPUID leaf 0, EAX
  std::uint32_t leaf1_ecx;  // CPUID leaf 1
  std::uint32_t leaf1_edx;
  std::uint32_t leaf7_ebx;  // CPUID leaf 7, subleaf 0
  std::uint64_t xcr0;       // XGETBV(0); 0 when OSXSAVE is clear
};

unsigned Md5FeaturesFrom(const Md5CpuWords& words);
// Fills kernels as UsableMd5LaneKernels does, for a machine with features.
int Md5KernelsFor(unsigned features, const Md5LaneKernel** kernels,
                  int capacity);

void Md5LanesSse2(Md5LaneStates* states,
                  const unsigned char* const blocks[Md5MaxLanes],
                  std::size_t block_count);
void Md5LanesAvx2(Md5LaneStates* states,
                  const unsigned char* const blocks[Md5MaxLanes],
                  std::size_t block_count);
void Md5LanesAvx512(Md5LaneStates* states,
                    const unsigned char* const blocks[Md5MaxLanes],
                    std::size_t block_count);

#endif  // DORVANE_DIGEST_MD5_KERNELS_H_
