// The MD5 core against libcrypto's single-stream MD5, block sizes from one
// MD5 block to 1 MiB. Prints Google Benchmark's table, then the speed ratio
// (ours / libcrypto) per size from the median of the repetitions.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "digest/md5.h"
#include "md5_peer.h"
#include "speed_reporter.h"

namespace {

void BM_Dorvane(benchmark::State& state) {
  const auto input = MakeInput(static_cast<std::size_t>(state.range(0)));
  unsigned char digest[Md5DigestSize];
  for (auto _ : state) {
    Md5Context context;
    Md5Init(&context);
    Md5Update(&context, input.data(), static_cast<std::uint32_t>(input.size()));
    Md5Final(digest, &context);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// Both sides of each size run one after the other.
void RegisterAll() {
  for (const long size : {64L, 1024L, 8192L, 1048576L}) {
    benchmark::RegisterBenchmark("dorvane_md5", BM_Dorvane)->Arg(size);
    benchmark::RegisterBenchmark("libcrypto_md5", BM_Libcrypto)->Arg(size);
  }
}

void PrintRatios(const SpeedReporter& reporter) {
  std::printf("\n%-10s %14s %14s %8s\n", "bytes", "dorvane MB/s",
              "libcrypto MB/s", "ratio");
  for (const char* size : {"64", "1024", "8192", "1048576"}) {
    const double ours = reporter.SpeedOf(std::string("dorvane_md5/") + size);
    const double theirs = reporter.SpeedOf(std::string("libcrypto_md5/") + size);
    if (ours == 0 || theirs == 0) continue;
    std::printf("%-10s %14.1f %14.1f %8.3f\n", size, ours / 1e6, theirs / 1e6,
                ours / theirs);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  SpeedReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter);
  benchmark::Shutdown();
  return 0;
}
