// The test run's list reader: buffered against one read per byte, verifying
// a list of many small files.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "verify/verifier.h"

namespace {

constexpr int FileCount = 5000;

// A tree of small files and its list, made once per process.
const std::string& BenchTree() {
  static const std::string root = [] {
    std::string dir = (std::filesystem::temp_directory_path() / "dorvane-reader-bench").string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/files");
    std::ofstream list(dir + "/list.txt", std::ios::binary);
    list << "ROOT: \"" << dir << "\"\r\nDIR:  \".\\files\\\"\r\n";
    for (int i = 0; i < FileCount; ++i) {
      const std::string name = "file" + std::to_string(i) + ".txt";
      std::ofstream(dir + "/files/" + name, std::ios::binary) << "abc";
      list << "FILE: 900150983CD24FB0D6963F7D28E17F72  3  \"" << name << "\"\r\n";
    }
    return dir;
  }();
  return root;
}

void BM_VerifyList(benchmark::State& state) {
  const std::string& root = BenchTree();
  std::filesystem::current_path(root);
  const auto read_size = static_cast<DWORD>(state.range(0));
  static char failures[FailureListSize];
  static ListReader reader;
  for (auto _ : state) {
    HANDLE list = CreateFileA("list.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    InitListReader(&reader, list, read_size);
    if (VerifyList(&reader, failures, FailureListSize, ChooseHashPlan()) != 1 || failures[0] != '\0') {
      state.SkipWithError("the list did not verify");
    }
    CloseHandle(list);
  }
  const auto list_size = std::filesystem::file_size(root + "/list.txt");
  state.counters["list_reads"] = static_cast<double>(list_size / read_size + 1);
  state.counters["files/s"] = benchmark::Counter(FileCount, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_VerifyList)->Arg(1)->Arg(ListReadBufferSize)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
