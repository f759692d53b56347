// The MD5 lane kernels against libcrypto's single-stream MD5: every kernel
// this machine runs, and the scalar chains of two to four lanes, hashes
// 8 KiB in each of its lanes (all lanes busy), in one call and one block
// per call. Prints Google Benchmark's table,
// then each kernel's aggregate MB/s and its ratio to libcrypto at 8 KiB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "digest/md5_chains.h"
#include "digest/md5_kernels.h"
#include "md5_lanes_gather.h"
#include "md5_peer.h"
#include "speed_reporter.h"

namespace {

constexpr std::size_t LaneBytes = 8192;
// The lanes' buffers follow each other in one allocation.
constexpr std::size_t LaneStride = LaneBytes;

// state.range(0) blocks per kernel call, until 8 KiB per lane are done.
void BM_Lanes(benchmark::State& state, Md5LaneKernel kernel) {
  const auto input = MakeInput(LaneStride * kernel.lanes);
  const auto per_call = static_cast<std::size_t>(state.range(0));
  const unsigned char* blocks[Md5MaxLanes] = {};
  Md5LaneStates states = {};
  for (auto _ : state) {
    for (int i = 0; i < kernel.lanes; ++i) blocks[i] = input.data() + LaneStride * i;
    for (std::size_t done = 0; done < LaneBytes; done += 64 * per_call) {
      kernel.transform(&states, blocks, per_call);
      for (int i = 0; i < kernel.lanes; ++i) blocks[i] += 64 * per_call;
    }
    benchmark::DoNotOptimize(states);
  }
  state.SetBytesProcessed(state.iterations() * LaneBytes * kernel.lanes);
}

std::string Name(const Md5LaneKernel& kernel) {
  return std::string("lanes_") + kernel.name;
}

// The libcrypto stream first, then each kernel, lowest first.
int RegisterAll(Md5LaneKernel* kernels) {
  benchmark::RegisterBenchmark("libcrypto_md5", BM_Libcrypto)->Arg(LaneBytes);
  const Md5LaneKernel* usable[Md5MaxLanes];
  int count = UsableMd5LaneKernels(usable, Md5MaxLanes);
  for (int i = 0; i < count; ++i) kernels[i] = *usable[i];
  if (count > 0 && kernels[count - 1].lanes == 16) {
    kernels[count++] = {"avx512_gather", 16, Md5LanesAvx512Gather};
  }
  // The scalar chains that take over a few busy lanes: a vector kernel
  // with k of its lanes busy hashes k / lanes of its MB/s.
  for (int chains = 2; chains <= Md5MaxChains; ++chains) {
    kernels[count++] = Md5ChainKernels[chains - 1];
  }
  for (int i = 0; i < count; ++i) {
    benchmark::RegisterBenchmark(Name(kernels[i]).c_str(), BM_Lanes, kernels[i])
        ->Arg(LaneBytes / 64)
        ->Arg(1);
  }
  return count;
}

void PrintRatios(const SpeedReporter& reporter, const Md5LaneKernel* kernels,
                 int count) {
  const double theirs = reporter.SpeedOf("libcrypto_md5/8192");
  std::printf("\nlibcrypto MD5, one stream of 8 KiB: %.1f MB/s\n", theirs / 1e6);
  std::printf("%-16s %6s %14s %8s %16s %8s\n", "kernel", "lanes",
              "MB/s (8 KiB)", "ratio", "MB/s (1 block)", "ratio");
  for (int i = 0; i < count; ++i) {
    const double whole = reporter.SpeedOf(Name(kernels[i]) + "/128");
    const double single = reporter.SpeedOf(Name(kernels[i]) + "/1");
    if (theirs == 0 || whole == 0) continue;
    std::printf("%-16s %6d %14.1f %8.3f", kernels[i].name, kernels[i].lanes,
                whole / 1e6, whole / theirs);
    if (single != 0) std::printf(" %16.1f %8.3f", single / 1e6, single / theirs);
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  Md5LaneKernel kernels[Md5MaxLanes];
  const int count = RegisterAll(kernels);
  benchmark::Initialize(&argc, argv);
  SpeedReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter, kernels, count);
  benchmark::Shutdown();
  return 0;
}
