// The file feeder: HashFile's steps for one lane.
#include "digest/file_feeder.h"

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
  *got = 0;
  if (!MayReadMore(feed->file, &feed->state)) return CachedReadDone;
  const CachedRead read = ReadFileIfCached(feed->file, feed->buffer, FeedReadSize, got);
  if (read == CachedReadDone) feed->state.count += *got;
  return read;
}

bool FinishFeed(FileFeed* feed, char* hex_text, std::uint64_t* hashed_size) {
  const bool ok = FinishFileHash(feed->file, &feed->state, hex_text, hashed_size);
  CloseFeed(feed);
  return ok;
}

void CloseFeed(FileFeed* feed) {
  if (feed->file != INVALID_HANDLE_VALUE) CloseHandle(feed->file);
  feed->file = INVALID_HANDLE_VALUE;
}
