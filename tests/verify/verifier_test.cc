#include "verify/verifier.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

const std::string Wrong = "00000000000000000000000000000000";

struct Verified {
  int result;
  bool failed;
  std::vector<std::string> failures;
  std::uint64_t position;  // where the reader stopped
};

// Verifies a list holding text from the current directory.
Verified Verify(const std::string& text, std::size_t capacity = FailureListSize) {
  WriteTextFile("list.lst", text);
  HANDLE file = OpenForReading("list.lst");
  auto reader = std::make_unique<ListReader>();
  InitListReader(reader.get(), file, ListReadBufferSize);
  std::vector<char> failure_list(capacity, '#');
  const int result =
      VerifyList(reader.get(), failure_list.data(), capacity, ChooseHashPlan());
  Verified verified{result, reader->failed, {}, reader->position};
  CloseHandle(file);
  for (const char* entry = failure_list.data(); *entry != '\0'; entry += std::strlen(entry) + 1) {
    verified.failures.push_back(entry);
  }
  return verified;
}

// A list that cannot be read: open for writing only, every read fails.
HANDLE UnreadableList() {
  WriteTextFile("w.lst", "DIR:  \".\\\"\r\nFILE: " + Abc + "  3  \"gone\"\r\n");
  return OpenHandle("w.lst", GENERIC_WRITE, OPEN_ALWAYS);
}

// A tree of files holding "abc": a.txt, data, sub/b.txt.
class VerifyListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirectory("sub");
    WriteTextFile("a.txt", "abc");
    WriteTextFile("data", "abc");
    WriteTextFile("sub/b.txt", "abc");
  }
  ScopedTempDir temp_;
};

TEST_F(VerifyListTest, HandMadeLists) {
  const std::string absolute = FullPathOf("sub\\");
  const std::string dir = "DIR:  \".\\\"\r\n";
  const struct {
    const char* name;
    std::string list;
    std::vector<std::string> failures;
  } rows[] = {
      {"crlf, all match",
       "ROOT: \"/x\"\r\nDIR:  \".\\\"\r\nFILE: " + Abc + "  3  \"a.txt\"\r\n"
       "DIR:  \".\\sub\\\"\r\nFILE: " + Abc + "  3  \"b.txt\"\r\n", {}},
      {"lf only, blank lines, lower-case tags and digest, no final line end",
       "root: \"/x\"\n\ndir:  \".\\sub\\\"\n\n\nfile: 900150983cd24fb0d6963f7d28e17f72  3  \"b.txt\"", {}},
      {"changed and missing files, in list order",
       "DIR:  \".\\\"\r\nFILE: " + Wrong + "  3  \"a.txt\"\r\nFILE: " + Abc + "  3  \"gone\"\r\n"
       "FILE: " + Abc + "  3  \"data\"\r\n", {".\\a.txt", ".\\gone"}},
      {"a file line before any dir line is taken from the current directory",
       "FILE: " + Abc + "  3  \"a.txt\"\r\nFILE: " + Abc + "  3  \"nope\"\r\n", {"nope"}},
      {"an unquoted name loses its digits: data01 is looked up as data",
       "DIR:  \".\\\"\r\nFILE: " + Abc + "  3  data01\r\n", {}},
      {"dir with one space is skipped, its files join the previous dir",
       "DIR:  \".\\\"\r\nDIR: \".\\sub\\\"\r\nFILE: " + Abc + "  3  \"b.txt\"\r\n", {".\\b.txt"}},
      {"a root line keeps the directory prefix",
       "DIR:  \".\\sub\\\"\r\nROOT: \"/y\"\r\nFILE: " + Abc + "  3  \"a.txt\"\r\n", {".\\sub\\a.txt"}},
      {"a dir path without its closing backslash",
       "DIR:  \".\\sub\"\r\nFILE: " + Abc + "  3  \"b.txt\"\r\n", {".\\subb.txt"}},
      {"an empty quoted name is its directory",
       "DIR:  \".\\sub\\\"\r\nFILE: " + Abc + "  0  \"\"\r\n", {".\\sub\\"}},
      {"an empty dir and an empty name",
       "DIR:  \"\"\r\nFILE: " + Abc + "  0  \"\"\r\nFILE: " + Abc + "  3  \"x\"\r\n", {"\"\"", "x"}},
      {"an absolute dir path fails, as a way out of the directory",
       "DIR:  \"" + absolute + "\"\r\nFILE: " + Abc + "  3  \"b.txt\"\r\n", {absolute + "b.txt"}},
      {"a byte-order mark makes the first line unrecognised",
       "\xEF\xBB\xBF" "FILE: " + Wrong + "  3  \"a.txt\"\r\n", {}},
      {"a tab in a skipped line: the text after it is read as a line",
       "DIR:  \".\\\"\r\njunk  x\tFILE: " + Wrong + "  3  \"a.txt\"\r\n", {".\\a.txt"}},
      {"with lf only a short unknown line swallows the next line",
       "DIR:  \".\\\"\nxy\nFILE: " + Wrong + "  3  \"a.txt\"\n", {}},
      {"with cr lf a short unknown line swallows only the lf",
       "DIR:  \".\\\"\r\nxy\r\nFILE: " + Wrong + "  3  \"a.txt\"\r\n", {".\\a.txt"}},
      {"a list naming its own file",
       "DIR:  \".\\\"\r\nFILE: " + Abc + "  3  \"list.lst\"\r\n", {".\\list.lst"}},
      {"a digest field with spaces around it",
       "DIR:  \".\\\"\r\nFILE:  " + Abc.substr(0, 31) + "  3  \"a.txt\"\r\n", {".\\a.txt"}},
      // Damaged lines fail their file and nothing else.
      {"digest with a non-hex character",
       dir + "FILE: 900150983CD24FB0D6963F7D28E17F7Z  3  \"a.txt\"\r\n", {".\\a.txt"}},
      {"digest one digit short",
       dir + "FILE: 900150983CD24FB0D6963F7D28E17F7  3  \"a.txt\"\r\n", {".\\a.txt"}},
      {"digest one digit long: the extra digit joins the size",
       dir + "FILE: " + Abc + "2  3  \"a.txt\"\r\n", {}},
      {"digest missing", dir + "FILE: \"a.txt\"\r\n", {".\\"}},
      {"size field missing", dir + "FILE: " + Abc + "  \"a.txt\"\r\n", {}},
      {"size field not a number", dir + "FILE: " + Abc + "  3x  \"a.txt\"\r\n",
       {".\\x  \"a.txt\""}},
      {"size field negative", dir + "FILE: " + Abc + "  -3  \"a.txt\"\r\n", {".\\-3  \"a.txt\""}},
      {"size field wrong: sizes are not verified", dir + "FILE: " + Abc + "  999  \"a.txt\"\r\n", {}},
      {"last line cut inside the digest", dir + "FILE: 9001509", {".\\"}},
      {"last line cut inside the name", dir + "FILE: " + Abc + "  3  \"a.t", {".\\a.t"}},
      {"closing quote missing", dir + "FILE: " + Abc + "  3  \"a.txt\r\n", {}},
      {"cr only line ends", "DIR:  \".\\\"\rFILE: " + Abc + "  3  \"a.txt\"\r", {}},
      {"mixed line ends", "DIR:  \".\\\"\nFILE: " + Abc + "  3  \"a.txt\"\r\n\n\r\r\n", {}},
      {"nul bytes between lines", dir + std::string(5, '\0') + "FILE: " + Abc + "  3  \"a.txt\"\r\n", {}},
      {"nul byte inside a name", dir + "FILE: " + Abc + "  3  \"a." + std::string(1, '\0') + "txt\"\r\n",
       {".\\a."}},
      {"the same file twice", dir + "FILE: " + Abc + "  3  \"a.txt\"\r\nFILE: " + Abc + "  3  \"a.txt\"\r\n", {}},
      {"path climbing out of the directory",
       "DIR:  \".\\..\\..\\no-such-dir\\\"\r\nFILE: " + Abc + "  3  \"a.txt\"\r\n",
       {".\\..\\..\\no-such-dir\\a.txt"}},
      {"an extra space after the tag shifts the digest",
       dir + "FILE:  " + Abc + "  3  \"a.txt\"\r\n", {".\\a.txt"}},
      {"a name that is only spaces", dir + "FILE: " + Abc + "  3  \"   \"\r\n", {".\\   "}},
  };
  for (const auto& row : rows) {
    const Verified verified = Verify(row.list);
    EXPECT_EQ(verified.result, 1) << row.name;
    EXPECT_FALSE(verified.failed) << row.name;
    EXPECT_EQ(verified.failures, row.failures) << row.name;
    EXPECT_EQ(verified.position, row.list.size()) << row.name;
  }
}

// No line structure at all: the reader must still end, exactly at the end.
TEST_F(VerifyListTest, GarbageListsAreReadToTheirEnd) {
  std::string random(1 << 18, '\0');
  unsigned state = 12345;
  for (char& byte : random) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  const std::string rows[] = {
      std::string(1 << 18, 'x'),                       // one line of 256 KiB
      std::string(1 << 18, '\n'),                      // only line ends
      std::string(1 << 16, '\0'),                      // only NULs
      "FILE: " + std::string(1 << 16, '"'),            // endless quotes
      std::string(5000, ' ') + "FILE: " + Abc + "  3  \"a.txt\"",
      random,
  };
  for (const std::string& list : rows) {
    const Verified verified = Verify(list);
    EXPECT_FALSE(verified.failed) << list.substr(0, 40);
    EXPECT_EQ(verified.position, list.size()) << list.substr(0, 40);
  }
}

// A name longer than its field: the rest of the line is read as if it
// began a new line, and the next line is verified as usual.
TEST_F(VerifyListTest, ALineLongerThanTheFieldLimits) {
  const std::string list = "DIR:  \".\\\"\r\nFILE: " + Abc + "  3  \"" + std::string(1100, 'x') +
                           "\"\r\nFILE: " + Wrong + "  3  \"a.txt\"\r\n";
  // 1024 - 2 (the prefix .\) - 1: 1021 bytes, of which 6 are the size and quote.
  const std::vector<std::string> expected = {".\\" + std::string(1015, 'x'), ".\\a.txt"};
  EXPECT_EQ(Verify(list).failures, expected);
}

// A path of length n is stored only if n + 1 is less than the room left.
TEST_F(VerifyListTest, FailureListCapacityBoundary) {
  const std::string two_missing =
      "DIR:  \".\\\"\r\nFILE: " + Abc + "  3  \"m1\"\r\nFILE: " + Abc + "  3  \"m2\"\r\n";
  Verified fits = Verify(two_missing, 11);  // 5 + 5 stored, 1 left for the end
  EXPECT_EQ(fits.result, 1);
  EXPECT_EQ(fits.failures, (std::vector<std::string>{".\\m1", ".\\m2"}));
  Verified overflows = Verify(two_missing, 10);
  EXPECT_EQ(overflows.result, 0);
  EXPECT_EQ(overflows.failures, std::vector<std::string>{".\\m1"});
  Verified none = Verify(two_missing, 5);
  EXPECT_EQ(none.result, 0);
  EXPECT_TRUE(none.failures.empty());
}

TEST_F(VerifyListTest, EmptyListAndReadFailure) {
  const Verified empty = Verify("");
  EXPECT_EQ(empty.result, 1);
  EXPECT_TRUE(empty.failures.empty());

  // Reading a list opened for writing only fails at once: the loop ends and
  // the failure is kept for the report.
  HANDLE file = UnreadableList();
  ListReader reader;
  InitListReader(&reader, file, ListReadBufferSize);
  char failure_list[64];
  EXPECT_EQ(VerifyList(&reader, failure_list, sizeof failure_list, ChooseHashPlan()), 1);
  EXPECT_TRUE(reader.failed);
  EXPECT_EQ(failure_list[0], '\0');
  CloseHandle(file);
}

}  // namespace
