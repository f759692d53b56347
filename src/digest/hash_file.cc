// Whole-file hashing on top of the MD5 core.
#include "digest/hash_file.h"

#include "platform/file64.h"
#include "platform/names.h"

namespace {

// Room for a listed path read in the legacy code page: 3 bytes of UTF-8 per
// byte at most.
constexpr std::size_t LegacyPathSize = 3 * HashPathLimit + 1;

// Whether the service that failed on path found no such name, and path,
// being no UTF-8, may be a name from a list written in the legacy code
// page: then *legacy holds what it names there. A name refused for any
// other reason (held, no handle left) is not looked for under another.
bool LegacyNameToTry(const char* path, char* legacy) {
  const DWORD error = GetLastError();
  return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) &&
         !IsValidUtf8(path) && LegacyNamePath(path, legacy, LegacyPathSize);
}

HANDLE OpenAsNamed(const char* path, DWORD open_flags) {
  return CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | open_flags, nullptr);
}

}  // namespace

void BeginFileHash(HANDLE file, FileHashState* state) {
  Md5Init(&state->context);
  state->count = 0;
  state->start_size = QueryFileSize(file);
  state->read_failed = false;
}

// The size is queried afresh before every read, so a file that grows while
// it is read is read to its new end; a read that brings nothing (the file
// shrank) ends the loop and leaves the decision to FinishFileHash. The
// growth followed is bounded, so that a file that keeps growing ends the
// reading.
bool MayReadMore(HANDLE file, const FileHashState* state) {
  return state->count != QueryFileSize(file) &&
         state->count < 2 * state->start_size + HashGrowthAllowance;
}

DWORD ReadNextBytes(HANDLE file, unsigned char* buffer, DWORD capacity,
                    FileHashState* state) {
  if (!MayReadMore(file, state)) return 0;
  DWORD got = 0;
  if (!ReadFile(file, buffer, capacity, &got, nullptr)) {
    state->read_failed = true;
    return 0;
  }
  state->count += got;
  return got;
}

DWORD ReadNextChunk(HANDLE file, unsigned char* buffer, FileHashState* state) {
  return ReadNextBytes(file, buffer, HashChunkSize, state);
}

bool HashNextChunk(HANDLE file, unsigned char* buffer, FileHashState* state) {
  const DWORD got = ReadNextChunk(file, buffer, state);
  if (got == 0) return false;
  Md5Update(&state->context, buffer, got);
  return true;
}

// The digest is taken only when the bytes hashed are exactly the file as it
// now stands: the position and the count both meet its current size.
bool FinishFileHash(HANDLE file, FileHashState* state, char* hex_text,
                    std::uint64_t* hashed_size) {
  hex_text[0] = '\0';
  *hashed_size = 0;
  const std::uint64_t size = QueryFileSize(file);
  if (QueryFilePosition(file) != size || state->count != size) return false;
  unsigned char digest[Md5DigestSize];
  Md5Final(digest, &state->context);
  DigestToHex(digest, hex_text);
  *hashed_size = size;
  return true;
}

HANDLE OpenFileToHash(const char* path, DWORD open_flags) {
  HANDLE file = OpenAsNamed(path, open_flags);
  char legacy[LegacyPathSize];
  if (file == INVALID_HANDLE_VALUE && LegacyNameToTry(path, legacy)) {
    file = OpenAsNamed(legacy, open_flags);
  }
  return file;
}

int HashFile(const char* path, char* hex_text, std::uint64_t* hashed_size) {
  std::uint64_t size = 0;
  hex_text[0] = '\0';
  if (hashed_size != nullptr) *hashed_size = 0;
  HANDLE file = OpenFileToHash(path, 0);
  if (file == INVALID_HANDLE_VALUE) return 0;
  auto* buffer = static_cast<unsigned char*>(LocalAlloc(LMEM_FIXED, HashChunkSize));
  int result = 0;
  if (buffer != nullptr) {
    FileHashState state;
    BeginFileHash(file, &state);
    while (HashNextChunk(file, buffer, &state)) {
    }
    result = FinishFileHash(file, &state, hex_text, &size) ? 1 : 0;
    LocalFree(buffer);
  }
  CloseHandle(file);
  if (hashed_size != nullptr) *hashed_size = size;
  return result;
}
