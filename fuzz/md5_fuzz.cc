// Fuzz target: Md5Update fed in arbitrary pieces gives the one-call digest.
//
// Input: byte 0 is the number of piece lengths that follow (up to 15); the
// lengths repeat over the rest of the input, which is the message. A length
// of 0 is a call with nothing to absorb.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "digest/md5.h"

namespace {

void DigestOf(const std::uint8_t* bytes, std::size_t size, unsigned char* digest) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, bytes, static_cast<std::uint32_t>(size));
  Md5Final(digest, &context);
}

// Feeds the message in pieces of the given lengths, scaled so that pieces
// also cross whole 64-byte blocks.
void DigestInPieces(const std::uint8_t* bytes, std::size_t size,
                    const std::uint8_t* lengths, std::size_t count,
                    std::size_t scale, unsigned char* digest) {
  Md5Context context;
  Md5Init(&context);
  std::size_t done = 0;
  for (std::size_t i = 0; done < size; ++i) {
    std::size_t piece = count == 0 ? 1 : lengths[i % count] * scale;
    if (piece > size - done) piece = size - done;
    Md5Update(&context, bytes + done, static_cast<std::uint32_t>(piece));
    done += piece;
    // An empty call is followed by a one-byte one, so the loop moves on.
    if (piece == 0) {
      Md5Update(&context, bytes + done, 1);
      ++done;
    }
  }
  Md5Update(&context, bytes + done, 0);
  Md5Final(digest, &context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t count = data[0] % 16 < size - 1 ? data[0] % 16 : size - 1;
  const std::uint8_t* lengths = data + 1;
  const std::uint8_t* message = data + 1 + count;
  const std::size_t length = size - 1 - count;

  unsigned char whole[Md5DigestSize];
  DigestOf(message, length, whole);
  for (std::size_t scale : {1, 7, 64}) {
    unsigned char pieces[Md5DigestSize];
    DigestInPieces(message, length, lengths, count, scale, pieces);
    if (std::memcmp(whole, pieces, Md5DigestSize) != 0) std::abort();
  }
  unsigned char bytewise[Md5DigestSize];
  DigestInPieces(message, length, lengths, 0, 1, bytewise);
  if (std::memcmp(whole, bytewise, Md5DigestSize) != 0) std::abort();
  return 0;
}
