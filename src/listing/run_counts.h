// What a run has done so far, for the lines that show it on a terminal:
// counted where the walk writes a FILE line or leaves an entry out, and
// where the test judges a file. Every update takes nullptr and then does
// nothing, so a run that nobody watches counts nothing.
#ifndef DORVANE_LISTING_RUN_COUNTS_H_
#define DORVANE_LISTING_RUN_COUNTS_H_

#include <cstdint>

#include "listing/list_format.h"

struct RunCounts {
  std::uint64_t files;     // listed (create, append) or checked (test)
  std::uint64_t bytes;     // the sizes of those files
  std::uint64_t left_out;  // entries the walk left out of the list
  std::uint64_t failed;    // checked files that failed
  char directory[LineBufferSize];  // the path of the last DIR line taken
  // Called after each file counted, in the thread that counts; may be null.
  void (*on_file)(void* watcher);
  void* watcher;
};

// Zero counts, an empty directory and no watcher.
void ClearRunCounts(RunCounts* counts);

void CountFile(RunCounts* counts, std::uint64_t bytes);
// A checked file that failed: counted as checked, with no bytes.
void CountFailure(RunCounts* counts);
void CountLeftOut(RunCounts* counts);
// Keeps path (cut to the buffer) as the directory the run is in.
void CountDirectory(RunCounts* counts, const char* path);

#endif  // DORVANE_LISTING_RUN_COUNTS_H_
