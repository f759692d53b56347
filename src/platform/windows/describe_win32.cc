// The Windows words for failures, and file identities.
#include <cstdio>
#include <cstring>

#include "platform/describe.h"
#include "platform/windows/wide_win32.h"

void DescribeError(DWORD error, char* out, std::size_t size) {
  // The file services' own answer for a device or a pipe (see
  // utf8_services_win32.cc); the system's words for the code mean another
  // thing.
  if (error == ERROR_BAD_FILE_TYPE) {
    std::snprintf(out, size, "not a regular file");
    return;
  }
  wchar_t wide[ErrorTextSize];
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     error, 0, wide, ErrorTextSize, nullptr);
  if (length == 0 || NarrowToUtf8(wide, out, size) >= size) {
    std::snprintf(out, size, "error %lu", static_cast<unsigned long>(error));
    return;
  }
  // The system's texts end with a full stop and a line end.
  std::size_t end = std::strlen(out);
  while (end > 0 && (out[end - 1] == '\r' || out[end - 1] == '\n' || out[end - 1] == ' ' ||
                     out[end - 1] == '.')) {
    --end;
  }
  out[end] = '\0';
}

// The listing never marks a Windows entry as a device.
const char* DescribeEntryKind(const char*) { return "not a regular file"; }

bool IsSameFile(const char* path, HANDLE file) {
  // Asking for no data access is not kept out by the run's own opens
  // without sharing.
  HANDLE named = CreateFileA(path, FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  const bool same = GetFileInformationByHandle(named, &a) && GetFileInformationByHandle(file, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}
