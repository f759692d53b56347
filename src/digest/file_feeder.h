// One file read for hashing in a lane: opened without sharing and read
// under HashFile's rules (its size asked before each read and after the
// last, the final check that the file is as it was opened), in reads
// larger than HashFile's chunks.
#ifndef DORVANE_DIGEST_FILE_FEEDER_H_
#define DORVANE_DIGEST_FILE_FEEDER_H_

#include <cstdint>

#include "digest/hash_file.h"
#include "platform/storage.h"
#include "platform/win32.h"

// Bytes a feeder asks for at a time: few system calls per file, while the
// buffers of all lanes of a worker stay within a couple of megabytes.
constexpr DWORD FeedReadSize = 128 * 1024;

struct FileFeed {
  HANDLE file;  // INVALID_HANDLE_VALUE when no file is open
  FileHashState state;
  unsigned char buffer[FeedReadSize];
};

// No file open.
void StartFeed(FileFeed* feed);
// Opens path as OpenFileToHash does and starts its hash. Returns
// ERROR_SUCCESS, or the error of the failed open (GetLastError's).
DWORD OpenFeed(FileFeed* feed, const char* path, DWORD open_flags);
// Reads the next bytes into the feed's buffer; 0 at the end (as
// ReadNextChunk).
DWORD ReadFeed(FileFeed* feed);
// ReadFeed of bytes already in memory only (ReadFileIfCached), so that it
// never waits for the disk: CachedReadDone with *got bytes (0 at the end),
// or why nothing was read; a failed read fails the file, as in ReadFeed.
CachedRead ReadFeedIfCached(FileFeed* feed, DWORD* got);
// Whether the next read's bytes are all in memory (QueryCachedBytes).
CacheState FeedBytesCached(const FileFeed* feed);
// Asks the system to bring the file's first bytes into memory
// (ReadAheadFile).
void ReadFeedAhead(FileFeed* feed, std::uint64_t bytes);
// The bytes the last read brought, the digest that builds up, and whether
// a read failed.
const unsigned char* FeedBytes(const FileFeed* feed);
Md5Context* FeedContext(FileFeed* feed);
bool FeedReadFailed(const FileFeed* feed);
// FinishFileHash, then closes the file.
[[nodiscard]] bool FinishFeed(FileFeed* feed, char* hex_text,
                              std::uint64_t* hashed_size);
// Closes the file, if one is open, without a result.
void CloseFeed(FileFeed* feed);

#endif  // DORVANE_DIGEST_FILE_FEEDER_H_
