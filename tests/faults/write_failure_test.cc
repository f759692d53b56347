// A list file that takes no writes: the run stops and says so.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "cli/driver.h"
#include "listing/list_format.h"
#include "listing/walker.h"
#include "test_util.h"

namespace {

// A handle opened for reading refuses every write, on any platform: the
// new list's first write, or the copy of the old one into it, fails, and
// the old list is left as it was.
TEST(WriteFailures, ListingReportsAFailedWriteAndRestoresTheDirectory) {
  ScopedTempDir temp;
  MakeDirectory("tree/sub");
  WriteTextFile("tree/a", "abc");
  WriteTextFile("tree/sub/b", "abc");
  const std::string old_list = "ROOT: \"/old\"\r\nDIR:  \".\\\"\r\n";
  WriteTextFile("list.lst", old_list);
  WriteTextFile("new.lst", "");
  const std::filesystem::path start = std::filesystem::current_path();
  for (RunMode mode : {ModeCreate, ModeAppend}) {
    HANDLE list = OpenForReading("list.lst");
    HANDLE new_list = OpenForReading("new.lst");
    ASSERT_NE(list, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunListing(mode, new_list, "tree", ChooseHashPlan(), nullptr, list),
              ListingWriteFailed) << mode;
    CloseHandle(new_list);
    CloseHandle(list);
    EXPECT_EQ(std::filesystem::current_path(), start) << mode;
    EXPECT_EQ(ReadTextFile("list.lst"), old_list) << mode;
  }
}

TEST(WriteFailures, TheWalkReportsAFailedWrite) {
  ScopedTempDir temp;
  MakeDirectory("tree/sub");
  WriteTextFile("tree/sub/b", "abc");
  WriteTextFile("list.lst", "");
  HANDLE list = OpenForReading("list.lst");
  char path[PathBufferSize] = "tree";
  EXPECT_FALSE(WalkDirectory(path, list, ChooseHashPlan()));
  WalkQueue* queue = StartWalkQueue(list, ChooseHashPlan());
  ASSERT_NE(queue, nullptr);
  EXPECT_TRUE(ListDirectoryFiles("tree\\sub", queue));
  EXPECT_FALSE(WriteQueuedLines(queue));
  EndWalkQueue(queue);
  CloseHandle(list);
}

}  // namespace
