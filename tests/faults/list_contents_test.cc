// Damaged and hostile list contents: each is read to its end, and every
// line that names a file it cannot confirm reports that file.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"
#include "verify/verifier.h"

namespace {

const std::string Abc = "900150983CD24FB0D6963F7D28E17F72";

struct Outcome {
  int whole;
  bool failed;
  std::vector<std::string> failures;
};

Outcome VerifyText(const std::string& text) {
  WriteTextFile("list.lst", text);
  HANDLE file = CreateFileA("list.lst", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  auto* reader = new ListReader;
  InitListReader(reader, file, ListReadBufferSize);
  std::vector<char> list(FailureListSize);
  Outcome outcome{VerifyList(reader, list.data(), list.size()), reader->failed, {}};
  EXPECT_EQ(reader->position, text.size());
  delete reader;
  CloseHandle(file);
  for (const char* entry = list.data(); *entry != '\0'; entry += std::strlen(entry) + 1) {
    outcome.failures.push_back(entry);
  }
  return outcome;
}

class ListContents : public ::testing::Test {
 protected:
  void SetUp() override { WriteTextFile("a.txt", "abc"); }
  ScopedTempDir temp_;
};

TEST_F(ListContents, DamagedLinesFailTheirFileAndNothingElse) {
  const std::string dir = "DIR:  \".\\\"\r\n";
  const struct {
    const char* fault;
    std::string list;
    std::vector<std::string> failures;
  } rows[] = {
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
    const Outcome outcome = VerifyText(row.list);
    EXPECT_EQ(outcome.whole, 1) << row.fault;
    EXPECT_FALSE(outcome.failed) << row.fault;
    EXPECT_EQ(outcome.failures, row.failures) << row.fault;
  }
}

// No line structure at all: the reader must still end, exactly at the end.
TEST_F(ListContents, GarbageListsAreReadToTheirEnd) {
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
    const Outcome outcome = VerifyText(list);
    EXPECT_FALSE(outcome.failed) << list.substr(0, 40);
  }
}

}  // namespace
