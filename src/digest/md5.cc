// MD5 (RFC 1321). Knows bytes only: no files, no platform.
#include "digest/md5.h"

#include <cstring>

namespace {

std::uint32_t LoadLittle(const unsigned char* bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap32(word);
#endif
  return word;
}

void StoreLittle(std::uint32_t word, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(word);
  bytes[1] = static_cast<unsigned char>(word >> 8);
  bytes[2] = static_cast<unsigned char>(word >> 16);
  bytes[3] = static_cast<unsigned char>(word >> 24);
}

constexpr std::uint32_t RotateLeft(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

}  // namespace

// F is written as ((c ^ d) & b) ^ d and G as (b & d) + (c & ~d): the same
// functions with fewer operations waiting for b, the value just computed.
// Each step adds the message word and constant to a before the round
// function, so that sum is ready while the previous step still runs.
#define MD5_F(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
  (a) += (x) + (t);                      \
  (a) += f((b), (c), (d));               \
  (a) = RotateLeft((a), (s)) + (b)
// G's term without b is added first, so only b & d waits for b.
#define MD5_STEP_G(a, b, c, d, x, t, s) \
  (a) += (x) + (t) + ((c) & ~(d));      \
  (a) += (b) & (d);                     \
  (a) = RotateLeft((a), (s)) + (b)

void Md5Transform(std::uint32_t state[4], const unsigned char block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLittle(block + 4 * i);
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7);
  MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12);
  MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17);
  MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22);
  MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7);
  MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12);
  MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17);
  MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22);
  MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7);
  MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12);
  MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17);
  MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22);
  MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7);
  MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12);
  MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17);
  MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22);

  MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562, 5);
  MD5_STEP_G(d, a, b, c, x[6], 0xc040b340, 9);
  MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51, 14);
  MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aa, 20);
  MD5_STEP_G(a, b, c, d, x[5], 0xd62f105d, 5);
  MD5_STEP_G(d, a, b, c, x[10], 0x02441453, 9);
  MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681, 14);
  MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8, 20);
  MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6, 5);
  MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6, 9);
  MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87, 14);
  MD5_STEP_G(b, c, d, a, x[8], 0x455a14ed, 20);
  MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905, 5);
  MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8, 9);
  MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9, 14);
  MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8a, 20);

  MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4);
  MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11);
  MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16);
  MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23);
  MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4);
  MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11);
  MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16);
  MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23);
  MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4);
  MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11);
  MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16);
  MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23);
  MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4);
  MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11);
  MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16);
  MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23);

  MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6);
  MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10);
  MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15);
  MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21);
  MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6);
  MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10);
  MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15);
  MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21);
  MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6);
  MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
  MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15);
  MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21);
  MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6);
  MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10);
  MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
  MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

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
