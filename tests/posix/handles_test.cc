// Handles that run short, for a moment (opens failed with ENFILE by a
// preloaded shim) or for good (a limit on open files): no file and no
// directory may be lost to them. A run either lists the whole tree, or
// stops with "too many open files" and exit 1 (Linux only).
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "posix/limited_run.h"
#include "test_util.h"

namespace {

// levels directories nested below tree ("tree/d/d/..."), each with files
// files, the deepest with bottom_files.
void MakeDeepTree(int levels, int files, int bottom_files) {
  std::string dir = "tree";
  for (int level = 0; level <= levels; ++level, dir += "/d") {
    MakeDirectory(dir);
    const int count = level == levels ? bottom_files : files;
    for (int i = 0; i < count; ++i) WriteTextFile(dir + "/" + std::to_string(i), "abc");
  }
}

// Three levels of four directories, eight files in each of the 85.
void MakeBushyTree(const std::string& dir, int depth) {
  MakeDirectory(dir);
  for (int i = 0; i < 8; ++i) WriteTextFile(dir + "/" + std::to_string(i), "abc");
  for (int i = 0; depth > 0 && i < 4; ++i) MakeBushyTree(dir + "/s" + std::to_string(i), depth - 1);
}

std::size_t Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// The only two ends a run short of handles may have.
void ExpectWholeListOrTooManyOpenFiles(const RunResult& run, const std::string& whole,
                                       const std::string& row) {
  std::string output = run.output;
  for (char& c : output) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (run.exit_code == 1 && output.find("too many open files") != std::string::npos) return;
  EXPECT_EQ(run.exit_code, 0) << row;
  const std::string list = ReadTextFile("list.lst");
  EXPECT_EQ(Lines(list), Lines(whole)) << row << ": lines lost";
  EXPECT_TRUE(list == whole) << row;
}

// Opens of files, of directories, or of the list, fail with ENFILE at 10%
// and 30%: each is retried until it succeeds, and c and t come to what
// they come to without the shim, with 1, 2 and 8 hashing threads.
TEST(Handles, OpensFailingForAMomentLoseNothing) {
  ScopedTempDir temp;
  MakeBushyTree("tree", 3);
  ASSERT_EQ(RunDorvane({"c", "whole.lst", "tree"}).exit_code, 0);
  const std::string whole = ReadTextFile("whole.lst");
  const ScopedVariable preload("LD_PRELOAD", ENFILE_SHIM);
  // A sanitized program wants its runtime loaded first; the shim is not.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const ScopedVariable asan_options(
      "ASAN_OPTIONS", std::string(asan == nullptr ? "" : asan) + ":verify_asan_link_order=0");
  for (const char* kind : {"files", "directories", "lists"}) {
    for (const char* percent : {"10", "30"}) {
      for (const char* threads : {"1", "2", "8"}) {
        const std::string row = std::string(kind) + " " + percent + "% " + threads + " threads";
        const ScopedVariable enfile("DORVANE_ENFILE", row.substr(0, row.find('%')) + " 7");
        const ScopedVariable thread_count("DORVANE_THREADS", threads);
        ExpectWholeListOrTooManyOpenFiles(RunDorvaneLimited({"c", "list.lst", "tree"}, -1, 0), whole, row);
        ChangeDirectory("tree");
        EXPECT_EQ(Lines(RunDorvaneLimited({"t", "../whole.lst"}, -1, 0).output), Lines(CleanTestOutput()))
            << row << ": files reported";
        ChangeDirectory("..");
      }
    }
  }
}

// Every limit on open files from 8 to 64, on a tree 100 levels deep with
// 5 files a level and on one 30 deep with 1,500 files at the bottom (more
// than the look-ahead holds, so that files wait while its listing is open).
void RunUnderEveryLimit(const char* threads) {
  ScopedTempDir temp;
  const ScopedVariable thread_count("DORVANE_THREADS", threads);
  for (const auto& shape : {std::pair{100, 5}, std::pair{30, 0}}) {
    std::filesystem::remove_all("tree");
    MakeDeepTree(shape.first, shape.second, shape.second == 0 ? 1500 : shape.second);
    ASSERT_EQ(RunDorvane({"c", "whole.lst", "tree"}).exit_code, 0);
    const std::string whole = ReadTextFile("whole.lst");
    for (rlim_t limit = 8; limit <= 64; ++limit) {
      const std::string row = std::to_string(shape.first) + " deep, " + std::to_string(limit) + " handles";
      ExpectWholeListOrTooManyOpenFiles(RunDorvaneLimited({"c", "list.lst", "tree"}, RLIMIT_NOFILE, limit),
                                        whole, row + ", " + threads + " threads");
    }
  }
}

TEST(Handles, EveryLimitListsTheWholeTreeOrStopsOneThread) { RunUnderEveryLimit("1"); }
TEST(Handles, EveryLimitListsTheWholeTreeOrStopsTwoThreads) { RunUnderEveryLimit("2"); }
TEST(Handles, EveryLimitListsTheWholeTreeOrStopsEightThreads) { RunUnderEveryLimit("8"); }

}  // namespace
