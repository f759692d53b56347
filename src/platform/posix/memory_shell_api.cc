// POSIX implementation of the Windows local memory and shell string services.
// Standard C and C++ only.
#include <cstdlib>
#include <cstring>

#include "platform/posix/win32_posix.h"

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if (flags != LMEM_FIXED) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

// nullptr on success, as on Windows.
HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

char* PathAddBackslashA(char* path) {
  const std::size_t length = std::strlen(path);
  if (length > 0 && path[length - 1] == '\\') return path + length;
  if (length + 2 > MAX_PATH) return nullptr;
  path[length] = '\\';
  path[length + 1] = '\0';
  return path + length + 1;
}

BOOL StrTrimA(char* text, const char* trim) {
  const std::size_t length = std::strlen(text);
  std::size_t start = 0;
  while (start < length && std::strchr(trim, text[start]) != nullptr) ++start;
  std::size_t end = length;
  while (end > start && std::strchr(trim, text[end - 1]) != nullptr) --end;
  if (start == 0 && end == length) return FALSE;
  std::memmove(text, text + start, end - start);
  text[end - start] = '\0';
  return TRUE;
}
