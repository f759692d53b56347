// The MD5 core against libcrypto's single-stream MD5, block sizes from one
// MD5 block to 1 MiB. Prints Google Benchmark's table, then the speed ratio
// (ours / libcrypto) per size from the median of the repetitions.
#include <benchmark/benchmark.h>
#include <openssl/md5.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "digest/md5.h"

namespace {

std::vector<unsigned char> MakeInput(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  std::uint32_t seed = 12345;
  for (auto& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(seed >> 24);
  }
  return bytes;
}

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

void BM_Libcrypto(benchmark::State& state) {
  const auto input = MakeInput(static_cast<std::size_t>(state.range(0)));
  unsigned char digest[MD5_DIGEST_LENGTH];
  for (auto _ : state) {
    MD5_CTX context;
    MD5_Init(&context);
    MD5_Update(&context, input.data(), input.size());
    MD5_Final(digest, &context);
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

// Keeps the median bytes/s of every benchmark (or its single run).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate &&
                          run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration && speeds_.count(Key(run)) == 0) {
        speeds_[Key(run)] = Speed(run);
      } else if (median) {
        speeds_[Key(run)] = Speed(run);
      }
    }
  }

  void PrintRatios() const {
    std::printf("\n%-10s %14s %14s %8s\n", "bytes", "dorvane MB/s",
                "libcrypto MB/s", "ratio");
    for (const char* size : {"64", "1024", "8192", "1048576"}) {
      const auto ours = speeds_.find(std::string("dorvane_md5/") + size);
      const auto theirs = speeds_.find(std::string("libcrypto_md5/") + size);
      if (ours == speeds_.end() || theirs == speeds_.end()) continue;
      std::printf("%-10s %14.1f %14.1f %8.3f\n", size, ours->second / 1e6,
                  theirs->second / 1e6, ours->second / theirs->second);
    }
  }

 private:
  static std::string Key(const Run& run) { return run.run_name.str(); }
  static double Speed(const Run& run) {
    const auto found = run.counters.find("bytes_per_second");
    return found == run.counters.end() ? 0.0 : double(found->second);
  }
  std::map<std::string, double> speeds_;
};

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
