// Digests of the repeating 251-byte pattern at lengths around MD5's padding
// edges and around the file chunk size, computed with coreutils md5sum.
#ifndef DORVANE_TESTS_DIGEST_MD5_VECTORS_H_
#define DORVANE_TESTS_DIGEST_MD5_VECTORS_H_

#include <cstddef>

struct PatternVector {
  std::size_t length;
  const char* hex;
};

inline constexpr PatternVector PatternVectors[] = {
    {55, "6912EE65FFF2D9F9CE2508CDDF8BCDA0"},   // last block just fits the length
    {56, "51FDD1ACDA72405DFDFA03FCB85896D7"},   // length spills into a second block
    {63, "48A6295221902E8E0938F773A7185E72"},
    {64, "B2D3F56BC197FD985D5965079B5E7148"},
    {65, "8BD7053801C768420FAF816FADBA971C"},
    {119, "1C772251899A7FF007400B888D6B2042"},
    {120, "B7BA1EFC6022E9ED272F00B8831E26E6"},
    {128, "37EFF01866BA3F538421B30B7CBEFCAC"},
    {8191, "7F2EC389F48EDF255A5841B7AA2506C4"},  // around the 8192-byte chunk
    {8192, "5756928D3FEB9C830C61F92B56416D95"},
    {8193, "D70940B0F2D0A8AC92655D222CE0ECD5"},
    {16385, "D94C23717801D8E74AA41E12176CC48F"},
};

#endif  // DORVANE_TESTS_DIGEST_MD5_VECTORS_H_
