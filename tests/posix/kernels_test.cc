// The same bytes with every MD5 kernel and thread count: lists and reports
// made by the built program with each kernel the machine can run on 1 and
// 3 threads (the best one also on 2 and 8), against the scalar kernel on
// one thread.
// (Files changed while hashed are compared kernel by kernel in
// hashing_changes_test.cc, where the change can come at a chosen step.)
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "digest/hash_queue.h"
#include "posix/limited_run.h"
#include "test_util.h"

namespace {

// Sizes around MD5's blocks, the chunk read at once and the read-ahead.
constexpr std::size_t EdgeSizes[] = {0,     1,     55,     56,     63,     64,
                                     65,    119,   120,    8191,   8192,   8193,
                                     131071, 131072, 131073, 3u << 20, (5u << 20) + 3};

// The edge sizes twice over with other bytes, in a tree whose directories
// hold few files (lanes fill across them) and one that holds many more
// than the hashing queues ahead.
void MakeEdgeTree() {
  MakeDirectory("tree/one/two/three");
  MakeDirectory("tree/wide");
  const char* homes[] = {"tree/", "tree/one/", "tree/one/two/", "tree/one/two/three/"};
  int n = 0;
  for (std::size_t size : EdgeSizes) {
    for (int copy = 0; copy < 2; ++copy, ++n) {
      WriteTextFile(homes[n % 4] + std::to_string(size) + "-" + std::to_string(copy),
                    PatternBytes(size + 1 + copy).substr(1 + copy));
    }
  }
  for (int i = 0; i < 700; ++i) {
    WriteTextFile("tree/wide/a rather long file name so that failures fill the report " +
                      std::to_string(i),
                  PatternBytes(50 + i % 300));
  }
}

struct Setting {
  const Md5LaneKernel* kernel;
  unsigned threads;
};

RunResult RunWithKernel(const Setting& setting, const std::vector<std::string>& arguments) {
  const ScopedVariable kernel(Md5KernelVariable, setting.kernel->name);
  const ScopedVariable threads(HashThreadsVariable, std::to_string(setting.threads));
  return RunDorvane(arguments);
}

// What a kernel made of the tree: the list of a create, the list after an
// append to an old one, and the reports of a test before and after damage.
std::vector<std::string> Outcomes(const Setting& kernel) {
  std::filesystem::remove_all("work");
  std::filesystem::copy("tree", "work", std::filesystem::copy_options::recursive);
  std::vector<std::string> outcomes;
  outcomes.push_back(RunWithKernel(kernel, {"c", "c.lst", "work"}).output);
  outcomes.push_back(ReadTextFile("c.lst"));
  WriteTextFile("a.lst", "ROOT: \"old\"\r\nDIR:  \".\\\"");
  outcomes.push_back(RunWithKernel(kernel, {"a", "a.lst", "work"}).output);
  outcomes.push_back(ReadTextFile("a.lst"));
  ChangeDirectory("work");
  outcomes.push_back(RunWithKernel(kernel, {"t", "../c.lst"}).output);
  // Damage: other bytes of the same size, a file cut, one gone, and every
  // file of the wide directory changed, more than the report can hold.
  WriteTextFile("8192-0", std::string(8192, 'x'));
  std::filesystem::resize_file("one/two/three/131072-1", 1000);
  std::filesystem::remove("one/65-0");
  for (const auto& entry : std::filesystem::directory_iterator("wide")) {
    WriteTextFile(entry.path().string(), "changed");
  }
  outcomes.push_back(RunWithKernel(kernel, {"t", "../c.lst"}).output);
  ChangeDirectory("..");
  return outcomes;
}

TEST(Kernels, ListsAndReportsAreTheSameBytesWithEveryKernelAndThreadCount) {
  ScopedTempDir temp;
  MakeEdgeTree();
  const Md5LaneKernel* kernels[8];
  const int count = UsableMd5LaneKernels(kernels, 8);
  ASSERT_GE(count, 1);
  const std::vector<std::string> scalar = Outcomes(Setting{kernels[0], 1});
  ASSERT_EQ(std::string(kernels[0]->name), "scalar");
  EXPECT_NE(scalar[1].find("FILE: " + HexDigestOf(PatternBytes((5u << 20) + 4).substr(1))),
            std::string::npos);
  EXPECT_EQ(scalar[4], CleanTestOutput());
  EXPECT_NE(scalar[5].find("... and some others..."), std::string::npos);
  // Every kernel on one thread and on three (more workers than cores
  // here); the best one also on two and eight.
  for (int k = 0; k < count; ++k) {
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
      if ((k == 0 && threads == 1) || (k < count - 1 && (threads == 2 || threads == 8))) {
        continue;
      }
      const std::vector<std::string> outcomes = Outcomes(Setting{kernels[k], threads});
      for (std::size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcomes[i], scalar[i])
            << kernels[k]->name << ", " << threads << " threads, outcome " << i;
      }
    }
  }
}

}  // namespace
