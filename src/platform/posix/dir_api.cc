// POSIX implementation of the Windows current-directory services.
// Assumes POSIX.1 only (getcwd, chdir).
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/posix_internal.h"
#include "platform/posix/win32_posix.h"

namespace {

// Copies text into buffer the way the Windows services do: the length on
// success, the size needed (NUL included) when the buffer is too small.
DWORD CopyOut(const char* text, DWORD size, char* buffer) {
  const std::size_t length = std::strlen(text);
  if (buffer == nullptr || length + 1 > size) {
    return static_cast<DWORD>(length + 1);
  }
  std::memcpy(buffer, text, length + 1);
  return static_cast<DWORD>(length);
}

// Appends one component of a path to the absolute path in out, folding "."
// and ".." on the text alone. Returns 0 when out would overflow.
int AppendComponent(char* out, std::size_t size, const char* component,
                    std::size_t length) {
  if (length == 0 || (length == 1 && component[0] == '.')) return 1;
  std::size_t used = std::strlen(out);
  if (length == 2 && component[0] == '.' && component[1] == '.') {
    while (used > 1 && out[used - 1] != '/') --used;
    if (used > 1) --used;
    out[used] = '\0';
    return 1;
  }
  const std::size_t separator = out[used - 1] == '/' ? 0 : 1;
  if (used + separator + length + 1 > size) return 0;
  if (separator != 0) out[used++] = '/';
  std::memcpy(out + used, component, length);
  out[used + length] = '\0';
  return 1;
}

int AppendPath(char* out, std::size_t size, const char* path) {
  while (*path != '\0') {
    const char* end = std::strchr(path, '/');
    const std::size_t length = end == nullptr ? std::strlen(path) : end - path;
    if (!AppendComponent(out, size, path, length)) return 0;
    path += length;
    if (*path == '/') ++path;
  }
  return 1;
}

}  // namespace

DWORD GetCurrentDirectoryA(DWORD size, char* buffer) {
  char current[SystemPathSize];
  if (getcwd(current, sizeof current) == nullptr) return 0;
  return CopyOut(current, size, buffer);
}

BOOL SetCurrentDirectoryA(const char* path) {
  char system_path[SystemPathSize];
  SetLastErrorFrom(0);
  if (path == nullptr || !ToSystemPath(path, system_path, sizeof system_path)) {
    return FALSE;
  }
  if (chdir(system_path) == 0) return TRUE;
  SetLastErrorFrom(errno);
  return FALSE;
}

// Joins a relative name to the current directory and folds "." and ".."
// without looking anything up, so links are never resolved; a trailing '/'
// in the name is kept.
DWORD GetFullPathNameA(const char* name, DWORD size, char* buffer,
                       char** file_part) {
  char path[SystemPathSize];
  if (name == nullptr || name[0] == '\0' ||
      !ToSystemPath(name, path, sizeof path)) {
    return 0;
  }
  char full[SystemPathSize] = "/";
  if (path[0] != '/' &&
      (getcwd(full, sizeof full) == nullptr || full[0] != '/')) {
    return 0;
  }
  if (!AppendPath(full, sizeof full, path)) return 0;
  const std::size_t length = std::strlen(full);
  if (path[std::strlen(path) - 1] == '/' && full[length - 1] != '/') {
    if (length + 2 > sizeof full) return 0;
    std::strcpy(full + length, "/");
  }
  const DWORD result = CopyOut(full, size, buffer);
  if (file_part != nullptr && buffer != nullptr && result < size) {
    char* last = std::strrchr(buffer, '/');
    *file_part = last[1] == '\0' ? nullptr : last + 1;
  }
  return result;
}
