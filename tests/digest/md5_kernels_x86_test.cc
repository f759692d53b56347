#include "digest/md5_kernels.h"

#include <string>

#include <gtest/gtest.h>

#include "digest/md5_lanes_check.h"
#include "md5_lanes_gather.h"

namespace {

constexpr unsigned Sse2 = Md5FeatureSse2;
constexpr unsigned Avx2 = Md5FeatureAvx2;
constexpr unsigned Avx512 = Md5FeatureAvx512;
constexpr unsigned All = Sse2 | Avx2 | Avx512;

TEST(Md5LaneKernels, FeaturesNeedTheProcessorAndTheSavedRegisters) {
  // CPUID leaf 1: EDX bit 26 SSE2, ECX bits 27 OSXSAVE and 28 AVX; leaf 7
  // EBX bits 5 AVX2 and 16 AVX512F.
  constexpr std::uint32_t Edx = 1u << 26, Ecx = 3u << 27,
                          Ebx = (1u << 5) | (1u << 16);
  const struct {
    const char* name;
    Md5CpuWords words;
    unsigned features;
  } rows[] = {
      {"everything", {13, Ecx, Edx, Ebx, 0xE7}, All},
      {"OS without XSAVE", {13, 1u << 28, Edx, Ebx, 0xE7}, Sse2},
      {"OS saves SSE state only", {13, Ecx, Edx, Ebx, 0x3}, Sse2},
      {"OS saves YMM, not ZMM", {13, Ecx, Edx, Ebx, 0x7}, Sse2 | Avx2},
      {"upper 16 ZMM not saved", {13, Ecx, Edx, Ebx, 0x67}, Sse2 | Avx2},
      {"opmask not saved", {13, Ecx, Edx, Ebx, 0xC7}, Sse2 | Avx2},
      {"AVX2 without AVX", {13, 1u << 27, Edx, Ebx, 0xE7}, Sse2 | Avx512},
      {"no leaf 7", {6, Ecx, Edx, Ebx, 0xE7}, Sse2},
      {"no leaf 1", {0, Ecx, Edx, Ebx, 0xE7}, 0},
      {"no SSE2", {13, 0, 0, 0, 0}, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Md5FeaturesFrom(row.words), row.features) << row.name;
  }
}

TEST(Md5LaneKernels, ARequestPicksAnyUsableKernelElseTheBest) {
  const struct {
    const char* requested;
    unsigned features;
    const char* kernel;
  } rows[] = {
      {nullptr, All, "avx512"},
      {nullptr, Sse2 | Avx2, "avx2"},
      {nullptr, Sse2, "sse2"},
      {nullptr, 0, "scalar"},
      {"scalar", All, "scalar"},
      {"sse2", All, "sse2"},
      {"avx2", All, "avx2"},
      {"avx512", All, "avx512"},
      {"avx512", Sse2 | Avx2, "avx2"},   // not supported here
      {"avx2", Sse2 | Avx512, "avx512"},
      {"sse2", 0, "scalar"},
      {"", All, "avx512"},
      {"AVX2", All, "avx512"},           // names are exact
      {"avx2 ", Sse2 | Avx2, "avx2"},
      {"avx", All, "avx512"},
      {"avx5120", All, "avx512"},
  };
  for (const auto& row : rows) {
    const Md5LaneKernel* kernels[Md5MaxLanes];
    const int count = Md5KernelsFor(row.features, kernels, Md5MaxLanes);
    const Md5LaneKernel* kernel = PickMd5LaneKernel(row.requested, kernels, count);
    EXPECT_STREQ(kernel->name, row.kernel)
        << (row.requested ? row.requested : "(none)") << ", features " << row.features;
  }
}

TEST(Md5LaneKernels, GatherVariantMatchesTheScalarCore) {
  const Md5LaneKernel* kernels[Md5MaxLanes];
  const int count = UsableMd5LaneKernels(kernels, Md5MaxLanes);
  if (std::string(kernels[count - 1]->name) != "avx512") GTEST_SKIP();
  ExpectLanesMatchScalar({"avx512 gather", 16, Md5LanesAvx512Gather});
}

}  // namespace
