// The legacy code page of lists written by the earlier Windows builds, as
// the POSIX build reads it: Windows-1252, the ANSI code page of Western
// European Windows, in which most such lists were made.
#include <cstdint>

#include "platform/names.h"

namespace {

// Bytes 0x80 to 0x9F; the five that Windows-1252 leaves undefined stand for
// the C1 controls of the same value, as Windows' own conversion has it.
// Every other byte is the code point of its value (ISO 8859-1).
constexpr std::uint16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

int LegacyNamePath(const char* path, char* out, std::size_t size) {
  std::size_t used = 0;
  for (; *path != '\0'; ++path) {
    const auto byte = static_cast<unsigned char>(*path);
    const std::uint32_t code_point =
        byte >= 0x80 && byte < 0xA0 ? Windows1252High[byte - 0x80] : byte;
    char sequence[4];
    const int length = EncodeUtf8(code_point, sequence);
    if (used + length + 1 > size) return 0;
    for (int i = 0; i < length; ++i) out[used++] = sequence[i];
  }
  out[used] = '\0';
  return 1;
}
