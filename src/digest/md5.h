// MD5 message digest over a byte stream, and its hexadecimal text.
#ifndef DORVANE_DIGEST_MD5_H_
#define DORVANE_DIGEST_MD5_H_

#include <cstddef>
#include <cstdint>

// Running state of one digest computation. The bytes waiting in block are
// always (bit_count[0] / 8) % 64.
struct Md5Context {
  std::uint32_t state[4];
  std::uint32_t bit_count[2];  // low word first
  unsigned char block[64];
};

constexpr int Md5DigestSize = 16;
constexpr int HexDigestSize = 33;  // 32 digits and a NUL

void Md5Init(Md5Context* context);
// Absorbs length bytes; the input may be split between calls at will.
void Md5Update(Md5Context* context, const unsigned char* bytes,
               std::uint32_t length);
// Pads, finishes and writes the 16-byte digest; the context must be
// initialised again before another message.
void Md5Final(unsigned char digest[Md5DigestSize], Md5Context* context);
// Counts blocks whole 64-byte blocks as absorbed without compressing them:
// for blocks whose compression a lane kernel ran on the state words. Only
// while no partial block is waiting.
void Md5CountBlocks(Md5Context* context, std::size_t blocks);
// The chaining words A, B, C and D, for a lane kernel to run on.
std::uint32_t* Md5ChainingWords(Md5Context* context);
// Bytes absorbed that wait for the rest of their block.
std::size_t Md5BytesWaiting(const Md5Context* context);
// The compression function on one 64-byte block.
void Md5Transform(std::uint32_t state[4], const unsigned char block[64]);
// Writes 32 uppercase hex digits and a NUL into text.
void DigestToHex(const unsigned char digest[Md5DigestSize],
                 char text[HexDigestSize]);

#endif  // DORVANE_DIGEST_MD5_H_
