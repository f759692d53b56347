// Files that change between listing and hashing or during a run, and
// directories that go away during the walk.
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "digest/hash_file.h"
#include "faults/list_check.h"
#include "listing/list_format.h"
#include "listing/walker.h"
#include "test_util.h"

namespace {

// The size in a FILE line comes from the listing, the digest from reading a
// moment later: a file whose size changed in between is left out.
TEST(ChangingFiles, AFileChangedOrDeletedSinceListingIsLeftOut) {
  ScopedTempDir temp;
  const struct {
    const char* fault;
    const char* content;  // nullptr: deleted
    DWORD listed_size;
    bool listed;
  } rows[] = {
      {"unchanged", "abc", 3, true},
      {"grew since listing", "abcdef", 3, false},
      {"shrank since listing", "ab", 3, false},
      {"deleted since listing", nullptr, 3, false},
  };
  for (const auto& row : rows) {
    std::filesystem::remove("f");
    if (row.content != nullptr) WriteTextFile("f", row.content);
    std::filesystem::remove("list.lst");
    HANDLE list = OpenHandle("list.lst", GENERIC_WRITE, OPEN_ALWAYS);
    WIN32_FIND_DATAA entry{};
    entry.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    entry.nFileSizeLow = row.listed_size;
    std::strcpy(entry.cFileName, "f");
    WalkQueue* queue = StartWalkQueue(list, ChooseHashPlan());
    ASSERT_NE(queue, nullptr);
    EXPECT_TRUE(QueueFileEntry(queue, ".\\", entry)) << row.fault;
    EXPECT_TRUE(WriteQueuedLines(queue)) << row.fault;
    EndWalkQueue(queue);
    CloseHandle(list);
    EXPECT_EQ(ReadTextFile("list.lst"),
              row.listed ? "FILE: 900150983CD24FB0D6963F7D28E17F72  3  \"f\"\r\n" : "")
        << row.fault;
  }
}

TEST(ChangingFiles, ADirectoryRemovedBeforeItIsWalkedKeepsOnlyItsDirLine) {
  ScopedTempDir temp;
  HANDLE list = OpenHandle("list.lst", GENERIC_WRITE, OPEN_ALWAYS);
  char path[PathBufferSize] = ".\\gone";
  EXPECT_TRUE(WalkDirectory(path, list, ChooseHashPlan()));
  CloseHandle(list);
  EXPECT_EQ(ReadTextFile("list.lst"), "DIR:  \".\\gone\\\"\r\n");
}

// Not a timing test: whatever the interleaving, a listed growing file must
// carry the digest of exactly as many bytes as its line says. The file only
// ever grows by the pattern, so its first n bytes are PatternBytes(n); once
// it stops growing it must be listed whole.
TEST(ChangingFiles, AFileGrowingDuringCreateIsNeverListedWithAPartDigest) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  constexpr std::size_t Start = 1 << 20, Final = 24 << 20, Step = 251 * 63;
  WriteTextFile("tree/growing", PatternBytes(Start));
  WriteTextFile("tree/steady", "abc");
  std::atomic<bool> done{false};
  std::thread grower([&done] {
    std::ofstream out("tree/growing", std::ios::binary | std::ios::app);
    const std::string pattern = PatternBytes(251 * 64);
    for (std::size_t size = Start; size < Final; size += Step) {
      // Continue the 251-byte cycle where the file ends.
      out.write(pattern.data() + size % 251, Step);
      out.flush();
    }
    done = true;
  });
  for (bool last = false; !last;) {
    last = done;
    const RunResult result = RunDorvane({"c", "list.lst", "tree"});
    EXPECT_EQ(result.exit_code, 0);
    const std::string text = ReadTextFile("list.lst");
    ASSERT_EQ(ListFault(text), "");
    int listed = 0;
    for (const ListedFile& file : ListedFiles(text)) {
      if (file.name == "steady") ++listed;
      if (file.name != "growing") continue;
      EXPECT_EQ(file.digest, HexDigestOf(PatternBytes(file.size))) << file.size;
      if (last) ++listed;
    }
    EXPECT_EQ(listed, last ? 2 : 1);
  }
  grower.join();
}

}  // namespace
