// What a run has done so far: counted where the walk writes a FILE line or
// leaves an entry out, and where the test reads a FILE line and judges its
// file. The counts make the lines that show a run on a terminal and the
// words that follow a test; every entry left out is also named, with its
// reason, through on_message. Every update takes nullptr and then does
// nothing.
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
  std::uint64_t listed;    // FILE lines the test read
  std::uint64_t missing;   // checked files that were not found
  std::uint64_t roots;     // ROOT lines the test read
  std::uint64_t ignored;   // checked files not found, left unreported
  std::uint64_t other_parts;  // FILE lines left to the test's other parts
  // The test: listed bytes of checked files that were never read (missing,
  // refused, cut short), so that the bytes read and these meet the list's
  // total at the end.
  std::uint64_t unread;
  // The run stopped: memory it needed could not be had.
  bool no_memory;
  // The run stopped: a file or directory could not be opened for lack of
  // handles, after waiting while the run held others.
  bool no_handle;
  // The bytes the hashing has read so far, while it runs; else null.
  const std::atomic<std::uint64_t>* bytes_read;
  // How the hashing took the storage, and why (DescribeHashStorage), once
  // it ends; empty when no read waited for the device.
  char storage[StorageTextSize];
  char root[LineBufferSize];       // the path of the first ROOT line
  char directory[LineBufferSize];  // the path of the last DIR line taken
  // Called after each file counted, and now and then while the run waits
  // for a file being read, in the thread that counts; null when nobody
  // watches (the directory is not kept then either).
  void (*on_file)(void* watcher);
  // Takes a message for people (an entry left out, and why); may be null.
  void (*on_message)(void* watcher, const char* text);
  void* watcher;
};

// Why the walk left an entry out of the list.
enum LeftOutReason {
  LeftOutCannotOpen,      // the open failed, for the error given
  LeftOutReadFailed,      // a read failed part way
  LeftOutChanged,         // it changed while it was read
  LeftOutChangedSize,     // its size is no longer the one listed
  LeftOutNotRegular,      // a FIFO, socket, device, link to a directory...
  LeftOutBackslash,       // its name holds the list's separator
  LeftOutControlByte,     // its name holds a byte that ends a field
  LeftOutTooLong,         // its path is longer than the list can name
  LeftOutNotListed,       // a directory whose listing failed, for the error
  LeftOutUnnamable,       // the system cannot name it
};

// Zero counts, empty texts and no watcher.
void ClearRunCounts(RunCounts* counts);

// The hashing of queue is the run's: its bytes read are shown and the
// watcher is called while the run waits for it; until EndFollowing, which
// must come before the queue ends. Fewer threads than the plan asked for
// are told of.
void FollowHashing(RunCounts* counts, HashQueue* queue);
void EndFollowing(RunCounts* counts, HashQueue* queue);

void CountFile(RunCounts* counts, std::uint64_t bytes);
// A checked file that failed: counted as checked, with no bytes; missing
// when it was not found.
void CountFailure(RunCounts* counts, bool missing);
// A checked file that failed after read of its listed bytes were read:
// the rest count as unread.
void CountUnread(RunCounts* counts, std::uint64_t listed, std::uint64_t read);
// An entry left out of the list at path (a directory's with its closing
// backslash), for reason, with the system's error where the reason has
// one; it is counted and named.
void CountLeftOut(RunCounts* counts, const char* path, LeftOutReason reason,
                  DWORD error = ERROR_SUCCESS);
// The run stops: memory it needed could not be had.
void CountNoMemory(RunCounts* counts);
// The run stops: handles ran out for good.
void CountNoHandle(RunCounts* counts);
// A listed path the test refused without opening it.
void CountRefused(RunCounts* counts, const char* path);
// Keeps path (cut to the buffer) as the directory the run is in.
void CountDirectory(RunCounts* counts, const char* path);
// A ROOT line's path, as read; the first one is kept.
void CountRoot(RunCounts* counts, const char* path);

// Writes path into out (size bytes) as it may be shown to people, on a
// terminal or in a log: each byte of a control character (C0, DEL, C1),
// of a character that reorders or hides text (bidirectional marks,
// zero-width characters and the like) and each byte that is no UTF-8 as
// \xHH, so that a name can neither break a message's line nor steer the
// terminal nor pass for another; cut to fit, never inside a character.
void PathForPeople(const char* path, char* out, std::size_t size);

// The bytes read so far: the hashing's while it runs, else those counted.
std::uint64_t BytesSoFar(const RunCounts& counts);

#endif  // DORVANE_LISTING_RUN_COUNTS_H_
