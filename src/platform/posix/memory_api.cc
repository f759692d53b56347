// POSIX implementation of the Windows local memory services (the shell
// string services are names.cc's, on every platform). Standard C only.
#include <cstdlib>

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
