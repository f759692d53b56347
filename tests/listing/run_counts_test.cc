// Names as people are shown them, on a terminal or in a log.
#include <string>

#include <gtest/gtest.h>

#include "listing/run_counts.h"

namespace {

std::string Shown(const char* name, std::size_t size = 256) {
  char out[256];
  PathForPeople(name, out, size);
  return out;
}

// What could steer a terminal, hide, reorder or break text is shown as its
// bytes (C0, DEL, C1 as UTF-8 and alone, no UTF-8, a cut sequence, a lone
// surrogate; bidirectional overrides and isolates, zero-width characters,
// the byte order mark, line separators, soft hyphens, tags); any other
// character as it is; a name too long is cut between characters.
TEST(PathForPeople, EscapesWhatActsOrHidesAndNothingElse) {
  const char* kept = ".\\caf\xC3\xA9 \xE2\x80\x90\xE6\x97\xA5\xF0\x9F\x98\x80";
  EXPECT_EQ(Shown(kept), kept);
  EXPECT_EQ(Shown("n\x1B[\x7F" "c\xC2\x9B" "b\x9B" "l\xE9" "s\xED\xA0\x80" "x\xE2\x80"),
            "n\\x1B[\\x7Fc\\xC2\\x9Bb\\x9Bl\\xE9s\\xED\\xA0\\x80x\\xE2\\x80");
  EXPECT_EQ(Shown("\xE2\x80\xAE\xE2\x81\xA6\xE2\x80\x8B\xEF\xBB\xBF\xE2\x80\xA8\xC2\xAD\xF3\xA0\x80\x81"),
            "\\xE2\\x80\\xAE\\xE2\\x81\\xA6\\xE2\\x80\\x8B\\xEF\\xBB\\xBF\\xE2\\x80\\xA8\\xC2\\xAD"
            "\\xF3\\xA0\\x80\\x81");
  EXPECT_EQ(Shown("abc\xC3\xA9x", 6) + Shown("abcd\x01", 6), "abc\xC3\xA9" "abcd");
}

}  // namespace
