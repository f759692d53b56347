// The kernel list on x86: which lane kernels the processor runs and the
// operating system saves the registers of, read with CPUID and XGETBV.
#include <cpuid.h>
#include <immintrin.h>

#include "digest/md5_kernels.h"

namespace {

constexpr std::uint32_t Leaf1EdxSse2 = 1u << 26;
constexpr std::uint32_t Leaf1EcxOsxsave = 1u << 27;
constexpr std::uint32_t Leaf1EcxAvx = 1u << 28;
constexpr std::uint32_t Leaf7EbxAvx2 = 1u << 5;
constexpr std::uint32_t Leaf7EbxAvx512f = 1u << 16;
// XCR0: the SSE and AVX halves of the YMM registers; then the opmask
// registers and both halves of ZMM0-15 and ZMM16-31 as well.
constexpr std::uint64_t Xcr0Avx = 0x6;
constexpr std::uint64_t Xcr0Avx512 = 0xE6;

const Md5LaneKernel Sse2Kernel = {"sse2", 16, Md5LanesSse2};
const Md5LaneKernel Avx2Kernel = {"avx2", 16, Md5LanesAvx2};
const Md5LaneKernel Avx512Kernel = {"avx512", 16, Md5LanesAvx512};

// Lowest first; each with the features it needs.
const struct {
  const Md5LaneKernel* kernel;
  unsigned needs;
} Kernels[] = {
    {&Md5ScalarKernel, 0},
    {&Sse2Kernel, Md5FeatureSse2},
    {&Avx2Kernel, Md5FeatureAvx2},
    {&Avx512Kernel, Md5FeatureAvx512},
};

// XGETBV faults unless the OS has set OSXSAVE, which the caller checks.
__attribute__((target("xsave"))) std::uint64_t ReadXcr0() {
  return _xgetbv(0);
}

Md5CpuWords ReadCpuWords() {
  Md5CpuWords words = {};
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  words.max_leaf = __get_cpuid_max(0, nullptr);
  if (words.max_leaf >= 1) {
    __cpuid(1, eax, ebx, ecx, edx);
    words.leaf1_ecx = ecx;
    words.leaf1_edx = edx;
  }
  if (words.max_leaf >= 7) {
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    words.leaf7_ebx = ebx;
  }
  if (words.leaf1_ecx & Leaf1EcxOsxsave) words.xcr0 = ReadXcr0();
  return words;
}

}  // namespace

unsigned Md5FeaturesFrom(const Md5CpuWords& words) {
  unsigned features = 0;
  if (words.max_leaf >= 1 && (words.leaf1_edx & Leaf1EdxSse2)) {
    features |= Md5FeatureSse2;
  }
  // The wide registers count only when the OS saves them on a switch.
  const bool osxsave = words.max_leaf >= 1 && (words.leaf1_ecx & Leaf1EcxOsxsave);
  const std::uint32_t leaf7 = words.max_leaf >= 7 ? words.leaf7_ebx : 0;
  const bool ymm = osxsave && (words.xcr0 & Xcr0Avx) == Xcr0Avx;
  const bool zmm = osxsave && (words.xcr0 & Xcr0Avx512) == Xcr0Avx512;
  if (ymm && (words.leaf1_ecx & Leaf1EcxAvx) && (leaf7 & Leaf7EbxAvx2)) {
    features |= Md5FeatureAvx2;
  }
  if (zmm && (leaf7 & Leaf7EbxAvx512f)) features |= Md5FeatureAvx512;
  return features;
}

int Md5KernelsFor(unsigned features, const Md5LaneKernel** kernels,
                  int capacity) {
  int count = 0;
  for (const auto& entry : Kernels) {
    if ((entry.needs & features) != entry.needs || count == capacity) continue;
    kernels[count++] = entry.kernel;
  }
  return count;
}

int UsableMd5LaneKernels(const Md5LaneKernel** kernels, int capacity) {
  return Md5KernelsFor(Md5FeaturesFrom(ReadCpuWords()), kernels, capacity);
}
