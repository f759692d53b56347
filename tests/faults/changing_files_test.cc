// Files that change between listing and hashing or while they are hashed,
// and directories that go away during the walk.
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

std::string HexOf(const std::string& bytes) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, reinterpret_cast<const unsigned char*>(bytes.data()),
            static_cast<std::uint32_t>(bytes.size()));
  unsigned char digest[Md5DigestSize];
  Md5Final(digest, &context);
  char hex[HexDigestSize];
  DigestToHex(digest, hex);
  return hex;
}

void AppendBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << bytes;
}

HANDLE OpenForList(const char* name) {
  return CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Each row changes the file after the first chunk of three was hashed. A
// file whose size changed while it was read has no one content to describe:
// no digest comes out.
TEST(ChangingFiles, HashFileGivesNoDigestForAFileChangingSizeWhileRead) {
  ScopedTempDir temp;
  const std::string original = PatternBytes(3 * HashChunkSize);
  const struct {
    const char* fault;
    void (*change)();
    int result;
  } rows[] = {
      {"unchanged", [] {}, 1},
      {"grew while read", [] { AppendBytes("f", "tail"); }, 0},
      {"shrank below what was read",
       [] { std::filesystem::resize_file("f", HashChunkSize / 2); }, 0},
      {"shrank above what was read",
       [] { std::filesystem::resize_file("f", 2 * HashChunkSize - 5); }, 0},
      {"emptied", [] { std::filesystem::resize_file("f", 0); }, 0},
      // The same size with other bytes cannot be told by size; the digest
      // then is that of the bytes as read.
      {"rewritten in place, same size",
       [] { WriteTextFile("f", std::string(3 * HashChunkSize, 'x')); }, 1},
  };
  for (const auto& row : rows) {
    WriteTextFile("f", original);
    HANDLE file = CreateFileA("f", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    unsigned char buffer[HashChunkSize];
    FileHashState state;
    BeginFileHash(file, &state);
    ASSERT_EQ(HashNextChunk(file, buffer, &state), 1) << row.fault;
    row.change();
    while (HashNextChunk(file, buffer, &state)) {
    }
    char hex[HexDigestSize] = "garbage";
    std::uint64_t size = 99;
    EXPECT_EQ(FinishFileHash(file, &state, hex, &size), row.result) << row.fault;
    CloseHandle(file);
    // What was read: the first chunk before the change, the rest after it.
    const std::string now = ReadTextFile("f");
    const std::string read = original.substr(0, HashChunkSize) +
                             (now.size() > HashChunkSize ? now.substr(HashChunkSize) : "");
    EXPECT_EQ(hex, row.result ? HexOf(read) : "") << row.fault;
    EXPECT_EQ(size, row.result ? original.size() : 0u) << row.fault;
  }
}

// A file that another program keeps appending to must not keep the hashing
// going: reading stops at the first pass that sees the size changed.
TEST(ChangingFiles, HashingStopsOnAFileThatKeepsGrowing) {
  ScopedTempDir temp;
  WriteTextFile("f", PatternBytes(2 * HashChunkSize));
  HANDLE file = CreateFileA("f", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  unsigned char buffer[HashChunkSize];
  FileHashState state;
  BeginFileHash(file, &state);
  int passes = 0;
  for (; passes < 10 && HashNextChunk(file, buffer, &state); ++passes) {
    AppendBytes("f", PatternBytes(HashChunkSize));
  }
  EXPECT_EQ(passes, 1);
  char hex[HexDigestSize];
  std::uint64_t size = 0;
  EXPECT_EQ(FinishFileHash(file, &state, hex, &size), 0);
  CloseHandle(file);
}

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
    HANDLE list = OpenForList("list.lst");
    WIN32_FIND_DATAA entry{};
    entry.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    entry.nFileSizeLow = row.listed_size;
    std::strcpy(entry.cFileName, "f");
    EXPECT_EQ(ListFileEntry(".\\", entry, list), 1) << row.fault;
    CloseHandle(list);
    EXPECT_EQ(ReadTextFile("list.lst"),
              row.listed ? "FILE: 900150983CD24FB0D6963F7D28E17F72  3  \"f\"\r\n" : "")
        << row.fault;
  }
}

TEST(ChangingFiles, ADirectoryRemovedBeforeItIsWalkedKeepsOnlyItsDirLine) {
  ScopedTempDir temp;
  HANDLE list = OpenForList("list.lst");
  char path[PathBufferSize] = ".\\gone";
  EXPECT_EQ(WalkDirectory(path, list), 1);
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
      EXPECT_EQ(file.digest, HexOf(PatternBytes(file.size))) << file.size;
      if (last) ++listed;
    }
    EXPECT_EQ(listed, last ? 2 : 1);
  }
  grower.join();
}

}  // namespace
