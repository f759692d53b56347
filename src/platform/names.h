// Names as the list carries them: UTF-8 text, counted the way the Windows
// services count it, and the names older lists may hold instead.
#ifndef DORVANE_PLATFORM_NAMES_H_
#define DORVANE_PLATFORM_NAMES_H_

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// The longest relative path the walk lists, in UTF-16 units: Windows'
// MAX_PATH without its NUL. A unit takes at most 3 bytes of UTF-8 (a
// character outside the Basic Multilingual Plane takes 4 bytes and 2 units,
// a byte that is no UTF-8 stands for one unit), so such a path fits
// 3 * MaxPathLength bytes.
constexpr std::size_t MaxPathLength = MAX_PATH - 1;
// Room for a path of MaxPathLength units and its NUL.
constexpr std::size_t PathByteSize = 3 * MaxPathLength + 1;

// Reads the code point that text begins with. Returns the bytes it takes
// (1 to 4) with the code point in *code_point, or 0 when text does not begin
// with one: a byte that cannot begin a sequence, a sequence cut short (also
// by the NUL), an overlong form or a value past U+10FFFF. A surrogate
// (U+D800 to U+DFFF) encoded alone is read like any code point: Windows names
// may hold one unpaired, and it must come back unchanged.
int DecodeUtf8(const char* text, std::uint32_t* code_point);
// Writes code_point (at most U+10FFFF) as UTF-8 to out, which has room for 4
// bytes; returns the bytes written. No NUL is added.
int EncodeUtf8(std::uint32_t code_point, char* out);

// Whether text is UTF-8 in the strict sense: every byte belongs to a
// sequence and no surrogate stands in it.
bool IsValidUtf8(const char* text);

// The length of path as the Windows services count it: UTF-16 units. A byte
// that is no UTF-8 counts as one, as it does in a single-byte code page, so
// an ASCII path counts its bytes.
std::size_t PathLength(const char* path);

// The path a list written in the legacy 8-bit code page means: path read
// as Windows-1252 (POSIX) or as the system's ANSI code page (Windows), in
// UTF-8, into out (size bytes; 3 bytes per byte of path and the NUL always
// suffice). Returns 1, or 0 when path cannot be read so or does not fit.
int LegacyNamePath(const char* path, char* out, std::size_t size);

#endif  // DORVANE_PLATFORM_NAMES_H_
