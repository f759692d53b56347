// Hashes a given number of bytes through Md5Update in 8 KiB pieces, the way
// HashFile feeds the MD5 core; run under callgrind by md5_instructions.sh to
// count the core's instructions per byte.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "digest/md5.h"

int main(int argc, char** argv) {
  const unsigned long total =
      argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16ul << 20;
  std::vector<unsigned char> chunk(8192);
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    chunk[i] = static_cast<unsigned char>(i * 131 + 7);
  }
  Md5Context context;
  Md5Init(&context);
  for (unsigned long done = 0; done < total; done += chunk.size()) {
    Md5Update(&context, chunk.data(), static_cast<std::uint32_t>(chunk.size()));
  }
  unsigned char digest[Md5DigestSize];
  Md5Final(digest, &context);
  char text[HexDigestSize];
  DigestToHex(digest, text);
  std::printf("%s\n", text);
  return 0;
}
