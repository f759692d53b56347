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

// What tells one state of an open file from another: its size and the
// times of its last write and of its last change of any kind (a truncate,
// a write, a change of its attributes).
struct FileVersion {
  std::uint64_t size;
  std::int64_t written;
  std::int64_t changed;
};

// The file's state as the system tells it now; false when it cannot. The
// times are asked first: where the system answers both from one look (the
// POSIX layer), the size is that look's too.
inline bool QueryFileVersion(HANDLE file, FileVersion* version) {
  FILE_BASIC_INFO info;
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info)) return false;
  version->size = QueryFileSize(file);
  version->written = info.LastWriteTime.QuadPart;
  version->changed = info.ChangeTime.QuadPart;
  return true;
}

inline bool SameFileVersion(const FileVersion& a, const FileVersion& b) {
  return a.size == b.size && a.written == b.written && a.changed == b.changed;
}

// Moves the file's position to offset bytes from its start; true when it
// is there.
inline bool SeekFile(HANDLE file, std::uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  return QueryFilePosition(file) == offset;
}

#endif  // DORVANE_PLATFORM_FILE64_H_
