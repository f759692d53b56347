// The file feeder: HashFile's steps for one lane.
#include "digest/file_feeder.h"

void StartFeed(FileFeed* feed) { feed->file = INVALID_HANDLE_VALUE; }

DWORD OpenFeed(FileFeed* feed, const char* path, DWORD open_flags) {
  feed->file = OpenFileToHash(path, open_flags);
  if (feed->file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_OPEN_FAILED;
  }
  BeginFileHash(feed->file, &feed->state);
  return ERROR_SUCCESS;
}

DWORD ReadFeed(FileFeed* feed) {
  return ReadNextBytes(feed->file, feed->buffer, FeedReadSize, &feed->state);
}

CachedRead ReadFeedIfCached(FileFeed* feed, DWORD* got) {
  return ReadNextBytesIfCached(feed->file, feed->buffer, FeedReadSize, &feed->state, got);
}

CacheState FeedBytesCached(const FileFeed* feed) {
  return QueryCachedBytes(feed->file, FeedReadSize);
}

void ReadFeedAhead(FileFeed* feed, std::uint64_t bytes) { ReadAheadFile(feed->file, bytes); }

const unsigned char* FeedBytes(const FileFeed* feed) { return feed->buffer; }

Md5Context* FeedContext(FileFeed* feed) { return FileHashContext(&feed->state); }

bool FeedReadFailed(const FileFeed* feed) { return FileHashReadFailed(&feed->state); }

bool FinishFeed(FileFeed* feed, char* hex_text, std::uint64_t* hashed_size) {
  const bool ok = FinishFileHash(feed->file, &feed->state, hex_text, hashed_size);
  CloseFeed(feed);
  return ok;
}

void CloseFeed(FileFeed* feed) {
  if (feed->file != INVALID_HANDLE_VALUE) CloseHandle(feed->file);
  feed->file = INVALID_HANDLE_VALUE;
}
