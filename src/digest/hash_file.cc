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
  state->read_failed = false;
  state->opened_known = QueryFileVersion(file, &state->opened);
}

// The size is asked afresh before every read, and once more after the
// last: a read tells the end it met, not the size, and a file cut while it
// is read may give its old length with zeros for what was cut. A file whose
// size is no longer the one it was opened with changed while it was read,
// and reading it further would only add to a digest that is not taken.
bool MayReadMore(HANDLE file, const FileHashState* state) {
  const std::uint64_t size = QueryFileSize(file);
  return state->opened_known && size == state->opened.size && state->count < size;
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
// was opened and still stands: the position and the count both meet its
// size, and neither the size nor the times of its last write and last
// change moved since the open.
bool FinishFileHash(HANDLE file, FileHashState* state, char* hex_text,
                    std::uint64_t* hashed_size) {
  hex_text[0] = '\0';
  *hashed_size = 0;
  FileVersion now;
  if (!state->opened_known || !QueryFileVersion(file, &now) ||
      !SameFileVersion(now, state->opened) || QueryFilePosition(file) != now.size ||
      state->count != now.size) {
    return false;
  }
  unsigned char digest[Md5DigestSize];
  Md5Final(digest, &state->context);
  DigestToHex(digest, hex_text);
  *hashed_size = now.size;
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

CachedRead ReadNextBytesIfCached(HANDLE file, unsigned char* buffer, DWORD capacity,
                                 FileHashState* state, DWORD* got) {
  *got = 0;
  if (!MayReadMore(file, state)) return CachedReadDone;
  const CachedRead read = ReadFileIfCached(file, buffer, capacity, got);
  if (read == CachedReadDone) state->count += *got;
  if (read == CachedReadFailed) state->read_failed = true;
  return read;
}

Md5Context* FileHashContext(FileHashState* state) { return &state->context; }

bool FileHashReadFailed(const FileHashState* state) { return state->read_failed; }
