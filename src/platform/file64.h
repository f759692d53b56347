// 64-bit file sizes and positions from the Windows file services' two
// 32-bit words.
#ifndef DORVANE_PLATFORM_FILE64_H_
#define DORVANE_PLATFORM_FILE64_H_

#include <cstdint>

#include "platform/win32.h"

inline std::uint64_t QueryFileSize(HANDLE file) {
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

inline std::uint64_t QueryFilePosition(HANDLE file) {
  LONG high = 0;
  const DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
  return (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
}

// Moves the file's position to offset bytes from its start; true when it
// is there.
inline bool SeekFile(HANDLE file, std::uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  return QueryFilePosition(file) == offset;
}

#endif  // DORVANE_PLATFORM_FILE64_H_
