// MD5 of a whole file, read in fixed chunks.
#ifndef DORVANE_DIGEST_HASH_FILE_H_
#define DORVANE_DIGEST_HASH_FILE_H_

#include <cstdint>

#include "digest/md5.h"
#include "platform/file64.h"
#include "platform/storage.h"
#include "platform/win32.h"

constexpr unsigned HashChunkSize = 8192;
// The longest path handed to the hashing, in bytes: a list line's.
constexpr std::size_t HashPathLimit = 1023;

// Hashes the file at path (relative to the current directory, backslash
// separators allowed), opened without sharing. Returns 1 with the hex digest
// in hex_text (HexDigestSize chars), or 0 with hex_text empty when the file
// cannot be opened or read to its end, or it changed while it was read: a
// file whose size, last write time or last change time after the last read
// are not those it was opened with fails, for its bytes as read may be no
// content the file ever had (a truncate that meets a read can make it
// bring zeros). Reading stops as soon as the size is seen to move. When
// hashed_size is given it receives the size the digest covers (0 on
// failure); a caller that took the size earlier must compare the two. The
// lane hasher (hash_lanes.h) takes the same steps for many files at once.
int HashFile(const char* path, char* hex_text, std::uint64_t* hashed_size = nullptr);

// The steps of HashFile on a file that is already open, for the lane
// hasher, which hashes the chunks of several files together, and for tests
// that change a file between chunks.
struct FileHashState {
  Md5Context context;
  std::uint64_t count;   // bytes read so far
  FileVersion opened;    // the file's state when hashing began
  bool opened_known;     // opened could be asked: else the hash fails
  bool read_failed;      // a read failed: the hashing ended there
};
// Starts hashing the open file, whose position is at its start.
void BeginFileHash(HANDLE file, FileHashState* state);
// Opens path as the hashing does: for reading, without sharing, as an
// existing file; open_flags are ORed into the flags and attributes. A path
// that is not UTF-8 and names nothing is tried once more as a name in the
// legacy 8-bit code page (LegacyNamePath), which lists of the earlier
// Windows builds hold; path is at most HashPathLimit bytes.
HANDLE OpenFileToHash(const char* path, DWORD open_flags);
// Reads the next chunk into buffer (HashChunkSize bytes) and counts it,
// leaving the hashing of its bytes to the caller. Returns how many bytes it
// read; 0 when the count has met the file's size as queried now, when that
// size is not the one the file was opened with, at the end of the file, or
// after a failed read.
DWORD ReadNextChunk(HANDLE file, unsigned char* buffer, FileHashState* state);
// Whether ReadNextChunk would read: the file's size as queried now is the
// one it was opened with, and the count has not met it.
bool MayReadMore(HANDLE file, const FileHashState* state);
// ReadNextChunk into a buffer of capacity bytes, for readers that take more
// than a chunk at a time.
DWORD ReadNextBytes(HANDLE file, unsigned char* buffer, DWORD capacity,
                    FileHashState* state);
// ReadNextBytes of bytes already in memory only (ReadFileIfCached), so that
// it never waits for the disk: CachedReadDone with *got bytes (0 when the
// file is read), or why nothing was read; a failed read ends the hashing.
CachedRead ReadNextBytesIfCached(HANDLE file, unsigned char* buffer, DWORD capacity,
                                 FileHashState* state, DWORD* got);
// The digest that builds up, and whether a read failed.
Md5Context* FileHashContext(FileHashState* state);
bool FileHashReadFailed(const FileHashState* state);
// ReadNextChunk, then Md5Update with the bytes read. Returns true while
// there is more to read, false when ReadNextChunk read nothing.
bool HashNextChunk(HANDLE file, unsigned char* buffer, FileHashState* state);
// Returns true with the hex digest and *hashed_size when the whole file,
// unchanged since BeginFileHash as far as the system tells (size, last
// write, last change), and nothing else, was hashed; false with hex_text
// empty and *hashed_size 0 otherwise.
[[nodiscard]] bool FinishFileHash(HANDLE file, FileHashState* state, char* hex_text,
                                  std::uint64_t* hashed_size);

#endif  // DORVANE_DIGEST_HASH_FILE_H_
