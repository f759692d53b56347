// The 8-bit file and directory services with UTF-8 names, over the wide
// ones. Every Windows version since NT has the wide services, and Wine
// too, so names do not depend on the ANSI code page, on a manifest or on the
// Windows version.
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "platform/names.h"
#include "platform/win32.h"
#include "platform/windows/wide_win32.h"

namespace {

// The 8-bit services' result for a text the wide one gave: the length, or
// the size needed (NUL included) when size does not hold it.
DWORD CopyOut(const wchar_t* wide, DWORD size, char* buffer) {
  const std::size_t length = NarrowToUtf8(wide, buffer, buffer != nullptr ? size : 0);
  return static_cast<DWORD>(length + 1 > size ? length + 1 : length);
}

void CopyEntry(const WIN32_FIND_DATAW& wide, Utf8FindData* data) {
  data->dwFileAttributes = wide.dwFileAttributes;
  data->nFileSizeHigh = wide.nFileSizeHigh;
  data->nFileSizeLow = wide.nFileSizeLow;
  NarrowToUtf8(wide.cFileName, data->cFileName, FindNameSize);
}

// Whether path is one the program forms below the current directory: it
// begins with ".\" (or "./") and climbs by no "..". The walk's paths and
// those of every list the program writes are so; a name typed bare (a list
// file, NUL, CONIN$), an absolute path and one with ".." are not.
bool IsFormedBelowCurrentDirectory(const char* path) {
  if (path[0] != '.' || (path[1] != '\\' && path[1] != '/')) return false;
  for (const char* component = path;;) {
    const char* end = component + std::strcspn(component, "\\/");
    if (end - component == 2 && component[0] == '.' && component[1] == '.') return false;
    if (*end == '\0') return true;
    component = end + 1;
  }
}

// Appends count units of text to out (size units), keeping it terminated.
bool Append(wchar_t* out, int size, int* used, const wchar_t* text, std::size_t count) {
  if (*used + count + 1 > static_cast<std::size_t>(size)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::wmemcpy(out + *used, text, count);
  *used += static_cast<int>(count);
  out[*used] = L'\0';
  return true;
}

// Starts out with the current directory in the form the system passes on
// unchanged, without a closing backslash: "\\?\C:\dir", "\\?\UNC\server\share\dir"
// for a share, and a directory already in a device form with "\\?\".
bool StartWithCurrentDirectory(wchar_t* out, int size, int* used) {
  wchar_t current[WidePathSize];
  const DWORD got = GetCurrentDirectoryW(WidePathSize, current);
  if (got == 0 || got >= static_cast<DWORD>(WidePathSize)) {
    if (got != 0) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  const wchar_t* prefix = L"\\\\?\\";
  const wchar_t* rest = current;
  if (current[0] == L'\\' && current[1] == L'\\') {
    const bool device = (current[2] == L'?' || current[2] == L'.') && current[3] == L'\\';
    if (!device) prefix = L"\\\\?\\UNC\\";
    rest = current + (device ? 4 : 2);
  }
  std::size_t length = std::wcslen(rest);
  if (length > 0 && rest[length - 1] == L'\\') --length;
  *used = 0;
  return Append(out, size, used, prefix, std::wcslen(prefix)) &&
         Append(out, size, used, rest, length);
}

// The form of a path below the current directory that the system takes as
// it stands: without it, Windows drops a trailing dot or space from every
// name and takes CON, NUL or COM1 anywhere for a device, so that "apache."
// would open "apache" and a listed name could stand for another file or
// for a port. "." and empty names are left out and "/" becomes "\"; a
// closing separator is kept. Nothing else is changed.
bool WidenBelowCurrentDirectory(const char* path, wchar_t* out, int size) {
  wchar_t relative[WidePathSize];
  int used = 0;
  if (!WidenUtf8(path, relative, WidePathSize) ||
      !StartWithCurrentDirectory(out, size, &used)) {
    return false;
  }
  for (const wchar_t* name = relative;;) {
    const std::size_t length = std::wcscspn(name, L"\\/");
    // A colon in a name would name one of a file's streams (or a drive):
    // no file of the tree's is so named.
    if (std::wmemchr(name, L':', length) != nullptr) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
    const bool skipped = length == 0 || (length == 1 && name[0] == L'.');
    if (!skipped && !(Append(out, size, &used, L"\\", 1) &&
                      Append(out, size, &used, name, length))) {
      return false;
    }
    if (name[length] == L'\0') return true;
    if (name[length + 1] == L'\0') return Append(out, size, &used, L"\\", 1);
    name += length + 1;
  }
}

// path as the wide services are to take it: a path the program formed in
// the form above, any other under the system's usual rules.
bool WidenPath(const char* path, wchar_t* out, int size) {
  return IsFormedBelowCurrentDirectory(path) ? WidenBelowCurrentDirectory(path, out, size)
                                             : WidenUtf8(path, out, size);
}

}  // namespace

bool WidenUtf8(const char* text, wchar_t* out, int size) {
  int used = 0;
  while (*text != '\0') {
    std::uint32_t code_point = 0;
    const int length = DecodeUtf8(text, &code_point);
    if (length == 0) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return false;
    }
    const int units = code_point >= 0x10000 ? 2 : 1;
    if (used + units + 1 > size) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    if (units == 2) {
      code_point -= 0x10000;
      out[used++] = static_cast<wchar_t>(0xD800 | (code_point >> 10));
      out[used++] = static_cast<wchar_t>(0xDC00 | (code_point & 0x3FF));
    } else {
      out[used++] = static_cast<wchar_t>(code_point);
    }
    text += length;
  }
  out[used] = L'\0';
  return true;
}

std::size_t NarrowToUtf8(const wchar_t* text, char* out, std::size_t size) {
  std::size_t used = 0;
  for (; *text != L'\0'; ++text) {
    std::uint32_t code_point = static_cast<std::uint16_t>(*text);
    const std::uint32_t next = static_cast<std::uint16_t>(text[1]);
    if (code_point >= 0xD800 && code_point <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      code_point = 0x10000 + ((code_point - 0xD800) << 10) + (next - 0xDC00);
      ++text;
    }
    char sequence[4];
    const int length = EncodeUtf8(code_point, sequence);
    if (used + length < size) std::memcpy(out + used, sequence, length);
    used += length;
  }
  if (used < size) out[used] = '\0';
  return used;
}

HANDLE CreateFileUtf8(const char* name, DWORD access, DWORD share_mode,
                      LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                      HANDLE template_file) {
  wchar_t wide[WidePathSize];
  if (!WidenPath(name, wide, WidePathSize)) return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileW(wide, access, share_mode, security, disposition, flags,
                            template_file);
  // A file opened to be read (hashed, or a list tested) must be one on a
  // disk, as on POSIX: a name may still reach a device (NUL, a console, a
  // port) or a pipe, which would pass for an empty or an endless file. The
  // console's own names are opened for writing too.
  if (file != INVALID_HANDLE_VALUE && access == GENERIC_READ &&
      disposition == OPEN_EXISTING && GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    SetLastError(ERROR_BAD_FILE_TYPE);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

DWORD GetFileAttributesUtf8(const char* name) {
  wchar_t wide[WidePathSize];
  if (!WidenPath(name, wide, WidePathSize)) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(wide);
}

HANDLE FindFirstFileExUtf8(const char* pattern, FINDEX_INFO_LEVELS info_level, void* data,
                           FINDEX_SEARCH_OPS search_op, void* search_filter,
                           DWORD additional_flags) {
  wchar_t wide_pattern[WidePathSize];
  if (!WidenPath(pattern, wide_pattern, WidePathSize)) return INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW wide;
  HANDLE find = FindFirstFileExW(wide_pattern, info_level, &wide, search_op, search_filter,
                                 additional_flags);
  if (find != INVALID_HANDLE_VALUE) CopyEntry(wide, static_cast<Utf8FindData*>(data));
  return find;
}

BOOL FindNextFileUtf8(HANDLE find, Utf8FindData* data) {
  WIN32_FIND_DATAW wide;
  if (!FindNextFileW(find, &wide)) return FALSE;
  CopyEntry(wide, data);
  return TRUE;
}

DWORD GetCurrentDirectoryUtf8(DWORD size, char* buffer) {
  wchar_t wide[WidePathSize];
  const DWORD got = GetCurrentDirectoryW(WidePathSize, wide);
  if (got == 0 || got >= static_cast<DWORD>(WidePathSize)) return 0;
  return CopyOut(wide, size, buffer);
}

BOOL SetCurrentDirectoryUtf8(const char* path) {
  wchar_t wide[WidePathSize];
  return WidenUtf8(path, wide, WidePathSize) && SetCurrentDirectoryW(wide);
}

DWORD GetFullPathNameUtf8(const char* name, DWORD size, char* buffer, char** file_part) {
  wchar_t wide_name[WidePathSize];
  wchar_t full[WidePathSize];
  if (!WidenUtf8(name, wide_name, WidePathSize)) return 0;
  const DWORD got = GetFullPathNameW(wide_name, WidePathSize, full, nullptr);
  if (got == 0 || got >= static_cast<DWORD>(WidePathSize)) return 0;
  const DWORD result = CopyOut(full, size, buffer);
  if (file_part != nullptr && result < size) {
    char* last = std::strrchr(buffer, '\\');
    *file_part = last != nullptr && last[1] != '\0' ? last + 1 : nullptr;
  }
  return result;
}

int LegacyNamePath(const char* path, char* out, std::size_t size) {
  wchar_t wide[WidePathSize];
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, WidePathSize) == 0) {
    return 0;
  }
  return NarrowToUtf8(wide, out, size) < size ? 1 : 0;
}
