// MD5 (RFC 1321). Knows bytes only: no files, no platform.
#include "digest/md5.h"

#include <cstring>

namespace {

void StoreLittle(std::uint32_t word, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(word);
  bytes[1] = static_cast<unsigned char>(word >> 8);
  bytes[2] = static_cast<unsigned char>(word >> 16);
  bytes[3] = static_cast<unsigned char>(word >> 24);
}

}  // namespace

void Md5Init(Md5Context* context) {
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
  context->bit_count[0] = 0;
  context->bit_count[1] = 0;
}

void Md5Update(Md5Context* context, const unsigned char* bytes,
               std::uint32_t length) {
  if (length == 0) return;
  const std::uint32_t before = context->bit_count[0];
  context->bit_count[0] += length << 3;
  if (context->bit_count[0] < before) ++context->bit_count[1];
  context->bit_count[1] += length >> 29;

  // Fill up a partial block first; whole blocks are then taken straight
  // from the caller's bytes, which leaves the digest unchanged.
  const std::uint32_t used = (before >> 3) & 63;
  if (used != 0) {
    const std::uint32_t free = 64 - used;
    if (length < free) {
      std::memcpy(context->block + used, bytes, length);
      return;
    }
    std::memcpy(context->block + used, bytes, free);
    Md5Transform(context->state, context->block);
    bytes += free;
    length -= free;
  }
  for (; length >= 64; bytes += 64, length -= 64) {
    Md5Transform(context->state, bytes);
  }
  std::memcpy(context->block, bytes, length);
}

void Md5CountBlocks(Md5Context* context, std::size_t blocks) {
  const std::uint64_t bits =
      ((static_cast<std::uint64_t>(context->bit_count[1]) << 32) |
       context->bit_count[0]) +
      (static_cast<std::uint64_t>(blocks) << 9);
  context->bit_count[0] = static_cast<std::uint32_t>(bits);
  context->bit_count[1] = static_cast<std::uint32_t>(bits >> 32);
}

std::uint32_t* Md5ChainingWords(Md5Context* context) { return context->state; }

std::size_t Md5BytesWaiting(const Md5Context* context) {
  return (context->bit_count[0] / 8) % 64;
}

void Md5Final(unsigned char digest[Md5DigestSize], Md5Context* context) {
  const std::uint32_t used = (context->bit_count[0] >> 3) & 63;
  context->block[used] = 0x80;
  const std::uint32_t room = 63 - used;
  if (room < 8) {
    std::memset(context->block + used + 1, 0, room);
    Md5Transform(context->state, context->block);
    std::memset(context->block, 0, 56);
  } else {
    std::memset(context->block + used + 1, 0, room - 8);
  }
  StoreLittle(context->bit_count[0], context->block + 56);
  StoreLittle(context->bit_count[1], context->block + 60);
  Md5Transform(context->state, context->block);
  for (int i = 0; i < 4; ++i) StoreLittle(context->state[i], digest + 4 * i);
}

void DigestToHex(const unsigned char digest[Md5DigestSize],
                 char text[HexDigestSize]) {
  static const char Digits[] = "0123456789ABCDEF";
  for (int i = 0; i < Md5DigestSize; ++i) {
    text[2 * i] = Digits[digest[i] >> 4];
    text[2 * i + 1] = Digits[digest[i] & 15];
  }
  text[2 * Md5DigestSize] = '\0';
}
