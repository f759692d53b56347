// The place a file is ordered by: its own, kept across a rename.
#include <cstdint>
#include <cstdio>

#include <gtest/gtest.h>

#include "platform/storage.h"
#include "test_util.h"

namespace {

TEST(FilePlace, EachFileHasItsOwnPlaceThatARenameKeeps) {
  ScopedTempDir temp;
  WriteTextFile("a", "abc");
  WriteTextFile("b", "abc");
  std::uint64_t a = 0, b = 0, moved = 0;
  ASSERT_TRUE(QueryFilePlace("a", &a));
  ASSERT_TRUE(QueryFilePlace("b", &b));
  EXPECT_NE(a, b);
  ASSERT_EQ(std::rename("a", "c"), 0);
  ASSERT_TRUE(QueryFilePlace("c", &moved));
  EXPECT_EQ(moved, a);
  EXPECT_FALSE(QueryFilePlace("a", &moved));
}

}  // namespace
