// Names as UTF-8: each row names the fault it guards against.
#include <cstdint>

#include <gtest/gtest.h>

#include "platform/names.h"

namespace {

TEST(NameText, DecodesCountsInUtf16UnitsAndTellsUtf8) {
  // length 0: the text begins with no code point, and first stays 0.
  struct Row { const char* text; int length; std::uint32_t first; std::size_t units; bool valid; };
  const Row rows[] = {
      {"a\\b", 1, 'a', 3, true},                  // ASCII counts its bytes
      {"\xC3\xA9", 2, 0xE9, 1, true},             // two bytes, one unit
      {"\xE6\x97\xA5", 3, 0x65E5, 1, true},       // three bytes, one unit
      {"\xF0\x9F\x98\x80", 4, 0x1F600, 2, true},  // past the BMP: two units
      {"\xED\xA0\x80", 3, 0xD800, 1, false},      // a lone surrogate: read, not valid
      {"caf\xE9", 1, 'c', 4, false},              // Windows-1252: a unit a byte
      {"\xE9t\xE9", 0, 0, 3, false},
      {"\xC0\xAF", 0, 0, 2, false},               // overlong '/'
      {"\xE0\x80\xAF", 0, 0, 3, false},           // overlong, three bytes
      {"\xF4\x90\x80\x80", 0, 0, 4, false},       // past U+10FFFF
      {"\xE6\x97", 0, 0, 2, false},               // cut short by the NUL
      {"\xF0\x9F\x98", 0, 0, 3, false},
      {"\xC3(", 0, 0, 2, false},                  // cut short by ASCII
      {"\x80", 0, 0, 1, false},                   // a continuation byte alone
  };
  for (const Row& row : rows) {
    std::uint32_t code_point = 0;
    EXPECT_EQ(DecodeUtf8(row.text, &code_point), row.length) << row.text;
    EXPECT_EQ(code_point, row.first) << row.text;
    EXPECT_EQ(PathLength(row.text), row.units) << row.text;
    EXPECT_EQ(IsValidUtf8(row.text), row.valid) << row.text;
  }
}

TEST(NameText, EveryCodePointRoundTrips) {
  for (std::uint32_t code_point = 1; code_point <= 0x10FFFF; ++code_point) {
    char text[5] = {};
    const int length = EncodeUtf8(code_point, text);
    std::uint32_t back = 0;
    ASSERT_EQ(DecodeUtf8(text, &back), length) << code_point;
    ASSERT_EQ(back, code_point);
    ASSERT_EQ(PathLength(text), code_point >= 0x10000 ? 2u : 1u);
  }
}

}  // namespace
