#include "digest/md5.h"

#include <string>

#include <gtest/gtest.h>

#include "digest/md5_vectors.h"
#include "test_util.h"

namespace {

// Feeds data in pieces of the given sizes (cycled), then finishes;
// HexDigestOf feeds it in one call.
std::string DigestInPieces(const std::string& data, std::initializer_list<std::uint32_t> pieces) {
  Md5Context context;
  Md5Init(&context);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t done = 0;
  while (done < data.size()) {
    for (std::uint32_t piece : pieces) {
      const std::uint32_t take =
          static_cast<std::uint32_t>(std::min<std::size_t>(piece, data.size() - done));
      Md5Update(&context, bytes + done, take);
      done += take;
    }
  }
  unsigned char digest[Md5DigestSize];
  Md5Final(digest, &context);
  char hex[HexDigestSize];
  DigestToHex(digest, hex);
  return hex;
}

TEST(Md5, Rfc1321Suite) {
  const struct {
    const char* input;
    const char* hex;
  } rows[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const auto& row : rows) EXPECT_EQ(HexDigestOf(row.input), row.hex) << row.input;
}

TEST(Md5, PaddingAndChunkBoundaries) {
  for (const PatternVector& row : PatternVectors) {
    const std::string data = PatternBytes(row.length);
    EXPECT_EQ(HexDigestOf(data), row.hex) << row.length;
    EXPECT_EQ(DigestInPieces(data, {1}), row.hex) << "byte by byte, " << row.length;
    EXPECT_EQ(DigestInPieces(data, {0, 7, 64, 0, 63, 130}), row.hex) << "mixed, " << row.length;
  }
}

TEST(Md5, EverySplitPointGivesTheSameDigest) {
  const std::string data = PatternBytes(200);
  const std::string whole = HexDigestOf(data);
  const auto size = static_cast<std::uint32_t>(data.size());
  for (std::uint32_t split = 0; split <= size; ++split) {
    EXPECT_EQ(DigestInPieces(data, {split, size - split}), whole) << split;
  }
}

}  // namespace
