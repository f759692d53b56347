// What a run has done so far, for the lines that show it on a terminal:
// counted where the walk writes a FILE line or leaves an entry out, and
// where the test judges a file. Every update takes nullptr and then does
// nothing, so a run that nobody watches counts nothing.
#ifndef DORVANE_LISTING_RUN_COUNTS_H_
#define DORVANE_LISTING_RUN_COUNTS_H_

#include <atomic>
#include <cstdint>

#include "digest/hash_queue.h"
#include "listing/list_format.h"

struct RunCounts {
  std::uint64_t files;     // listed (create, append) or checked (test)
  std::uint64_t bytes;     // the sizes of those files
  std::uint64_t left_out;  // entries the walk left out of the list
  std::uint64_t failed;    // checked files that failed
  // The test: listed bytes of checked files that were never read (missing,
  // refused, cut short), so that the bytes read and these meet the list's
  // total at the end.
  std::uint64_t unread;
  // The bytes the hashing has read so far, while it runs; else null.
  const std::atomic<std::uint64_t>* bytes_read;
  char directory[LineBufferSize];  // the path of the last DIR line taken
  // Called after each file counted, and now and then while the run waits
  // for a file being read; in the thread that counts; may be null.
  void (*on_file)(void* watcher);
  void* watcher;
};

// Zero counts, an empty directory and no watcher.
void ClearRunCounts(RunCounts* counts);

// The hashing of queue is the run's: its bytes read are shown and the
// watcher is called while the run waits for it; until EndFollowing, which
// must come before the queue ends.
void FollowHashing(RunCounts* counts, HashQueue* queue);
void EndFollowing(RunCounts* counts, HashQueue* queue);

void CountFile(RunCounts* counts, std::uint64_t bytes);
// A checked file that failed: counted as checked, with no bytes.
void CountFailure(RunCounts* counts);
// A checked file that failed after read of its listed bytes were read:
// the rest count as unread.
void CountUnread(RunCounts* counts, std::uint64_t listed, std::uint64_t read);
void CountLeftOut(RunCounts* counts);
// Keeps path (cut to the buffer) as the directory the run is in.
void CountDirectory(RunCounts* counts, const char* path);

// The bytes read so far: the hashing's while it runs, else those counted.
std::uint64_t BytesSoFar(const RunCounts& counts);

#endif  // DORVANE_LISTING_RUN_COUNTS_H_
