// Whole-file hashing on top of the MD5 core.
#include "digest/hash_file.h"

#include <cstdint>

#include "platform/win32.h"

namespace {

std::uint64_t QueryFileSize(HANDLE file) {
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

std::uint64_t QueryFilePosition(HANDLE file) {
  LONG high = 0;
  const DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
  return (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
}

// Reads the open file to the end of its size as last queried and finishes
// the digest only when the position then equals the size: a file that
// shrinks or fails part-way is not taken for complete. The size is queried
// on every pass, so growth during the read is seen too.
int HashOpenFile(HANDLE file, unsigned char* buffer, char* hex_text) {
  Md5Context context;
  Md5Init(&context);
  std::uint64_t count = 0;
  std::uint64_t size = QueryFileSize(file);
  bool stopped = false;
  while (count != size) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, HashChunkSize, &got, nullptr) || got == 0) {
      stopped = true;
      break;
    }
    Md5Update(&context, buffer, got);
    count += got;
    size = QueryFileSize(file);
  }
  // A loop that ended on the size has just asked for it; after a failed or
  // empty read the size is asked once more to judge where the read stopped.
  if (stopped) size = QueryFileSize(file);
  if (QueryFilePosition(file) != size) return 0;
  unsigned char digest[Md5DigestSize];
  Md5Final(digest, &context);
  DigestToHex(digest, hex_text);
  return 1;
}

}  // namespace

int HashFile(const char* path, char* hex_text) {
  hex_text[0] = '\0';
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  auto* buffer = static_cast<unsigned char*>(LocalAlloc(LMEM_FIXED, HashChunkSize));
  int result = 0;
  if (buffer != nullptr) {
    result = HashOpenFile(file, buffer, hex_text);
    LocalFree(buffer);
  }
  CloseHandle(file);
  return result;
}
