// UTF-8 and UTF-16 for the wide Windows services, inside platform/windows.
#ifndef DORVANE_PLATFORM_WINDOWS_WIDE_WIN32_H_
#define DORVANE_PLATFORM_WINDOWS_WIDE_WIN32_H_

#include <cstddef>

// Room for the wide form of a path. The 8-bit services refuse paths past
// MAX_PATH characters in any case; this leaves room for typed paths with
// many "." and ".." in them.
constexpr int WidePathSize = 4096;

// text (UTF-8; a surrogate encoded alone is taken as that unit) as UTF-16
// into out, size units. Returns false with the thread's last error set when
// text is not UTF-8 (ERROR_FILE_NOT_FOUND: it names no file) or too long
// (ERROR_FILENAME_EXCED_RANGE).
bool WidenUtf8(const char* text, wchar_t* out, int size);

// text as UTF-8 into out (size bytes; nothing is written when size is 0),
// an unpaired surrogate encoded alone. Returns the length in bytes, NUL not
// counted; the text was written whole, with its NUL, only when that length
// is less than size.
std::size_t NarrowToUtf8(const wchar_t* text, char* out, std::size_t size);

#endif  // DORVANE_PLATFORM_WINDOWS_WIDE_WIN32_H_
