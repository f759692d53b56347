#include "verify/field_reader.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

// A list file holding text, open for reading, with a reader over it.
class ListFile {
 public:
  ListFile(const std::string& text, DWORD read_size) {
    WriteTextFile("list.txt", text);
    file_ = OpenForReading("list.txt");
    InitListReader(&reader_, file_, read_size);
  }
  ~ListFile() { CloseHandle(file_); }
  std::string Field(int capacity) {
    std::vector<char> buffer(static_cast<std::size_t>(capacity) + 1, '#');
    const int length = ReadField(&reader_, buffer.data(), capacity);
    EXPECT_EQ(static_cast<std::size_t>(length), std::string(buffer.data()).size());
    return buffer.data();
  }
  ListReader* reader() { return &reader_; }

 private:
  HANDLE file_;
  ListReader reader_;
};

TEST(ReadField, StopsAtTheLimitWithoutTakingTheNextByte) {
  ScopedTempDir temp;
  for (DWORD read_size : {DWORD{1}, ListReadBufferSize}) {
    ListFile list("FILE: rest\r\n", read_size);
    EXPECT_EQ(list.Field(7), "FILE: ");
    EXPECT_EQ(list.reader()->position, 6u);
    EXPECT_EQ(list.Field(1), "");
    EXPECT_EQ(list.reader()->position, 6u);
    EXPECT_EQ(list.Field(1024), "rest");
    EXPECT_EQ(list.Field(1024), "");  // the LF after the CR
    EXPECT_EQ(list.reader()->position, 12u);
    EXPECT_EQ(list.Field(1024), "");  // end of file
    EXPECT_EQ(list.reader()->position, 12u);
    EXPECT_FALSE(list.reader()->failed);
  }
}

TEST(ReadField, ControlBytesEndFieldsAndHighBytesAreKept) {
  ScopedTempDir temp;
  ListFile list(std::string("a\tb\x7f" "c\x01\xe4\xfc\xff z", 11) + std::string(1, '\0') + "end", 1024);
  EXPECT_EQ(list.Field(100), "a");
  EXPECT_EQ(list.Field(100), "b");
  EXPECT_EQ(list.Field(100), "c");
  EXPECT_EQ(list.Field(100), "\xe4\xfc\xff z");
  EXPECT_EQ(list.Field(100), "end");
}

// The buffered reader takes exactly the fields and positions of a reader
// that asks the file for one byte at a time.
TEST(ReadField, BufferedReadingMatchesByteByByteReading) {
  ScopedTempDir temp;
  std::mt19937 random(1321);
  std::string text;
  const char alphabet[] = "FILE: DIR\"\\ 0123abc\r\n\t\x7f\x80";
  for (int i = 0; i < 200000; ++i) text += alphabet[random() % (sizeof alphabet - 1)];
  ListFile buffered(text, 4096);
  WriteTextFile("copy.txt", text);
  HANDLE copy = OpenForReading("copy.txt");
  ListReader single;
  InitListReader(&single, copy, 1);
  char a[1100], b[1100];
  while (single.position < text.size()) {
    const int capacity = static_cast<int>(random() % 1030) + 1;
    ASSERT_EQ(ReadField(buffered.reader(), a, capacity), ReadField(&single, b, capacity));
    ASSERT_STREQ(a, b);
    ASSERT_EQ(buffered.reader()->position, single.position);
    ASSERT_EQ(single.position, SetFilePointer(copy, 0, nullptr, FILE_CURRENT));
  }
  CloseHandle(copy);
}

TEST(ReadField, AFailedReadEndsTheFieldAndIsKept) {
  ScopedTempDir temp;
  WriteTextFile("list.txt", "FILE: x");
  // Open for writing only: every read fails.
  HANDLE file = OpenHandle("list.txt", GENERIC_WRITE, OPEN_ALWAYS);
  ListReader reader;
  InitListReader(&reader, file, ListReadBufferSize);
  char field[16];
  EXPECT_EQ(ReadField(&reader, field, 16), 0);
  EXPECT_TRUE(reader.failed);
  EXPECT_EQ(reader.position, 0u);
  CloseHandle(file);
}

TEST(Unquote, TrimsSpacesThenStripsOuterQuotes) {
  const struct {
    const char* input;
    const char* output;
  } rows[] = {
      {"  \"a b.txt\"  ", "a b.txt"},
      {"  abc\"  ", "abc\""},           // no leading quote: only trimmed
      {"\"", ""},
      {"\"\"", ""},
      {"\" spaced \"", " spaced "},     // trimming comes before unquoting
      {"\"a\"b\"", "a\"b"},             // inner quotes stay
      {"\"open", "open"},
      {"   ", ""},
  };
  for (const auto& row : rows) {
    char text[64];
    std::strcpy(text, row.input);
    Unquote(text);
    EXPECT_STREQ(text, row.output) << row.input;
  }
}

}  // namespace
