// The tree walk that writes the DIR and FILE lines of a checksum list.
#ifndef DORVANE_LISTING_WALKER_H_
#define DORVANE_LISTING_WALKER_H_

#include "digest/hash_queue.h"
#include "listing/run_counts.h"
#include "listing/selection.h"
#include "platform/win32.h"

// Writes the DIR line of the directory in path (relative to the current
// directory, in a PathBufferSize buffer), its FILE lines, then the lines of
// each subdirectory in listing order. path is extended in place and holds
// the directory with a closing backslash on return. Entries whose relative
// path would exceed MaxPathLength characters (PathLength), and entries whose
// names hold a control byte (a reader ends the name there and would take the
// rest of it for a line of its own) or a backslash (the list's separator),
// are left out. No directory is entered, and
// no file opened, through a symbolic link in a directory of its path (where
// the platform can tell): a directory swapped for a link during the walk
// keeps its DIR line and nothing below it. The files are hashed as plan
// says, several at once, while the walk goes on ahead of the lines written;
// the lines come out in the order of a walk that hashed each file in its
// turn, and are written in batches of whole lines. Lines written and
// entries left out go to counts, when given: each entry left out with its
// reason, but the run's own files (list_file, and also_own when given),
// which are held and left out without a word.
//
// Each directory is listed in one pass, its files queued and the names of
// its subdirectories kept until they are walked, so the walk holds one
// directory handle at a time. An open that fails for lack of handles waits
// while the run holds handles it will close (see hash_queue.h). Returns
// true, or false as soon as a write to the list file fails (the walk stops
// there), the walk's memory cannot be had (CountNoMemory), or handles ran
// out for good (CountNoHandle). also_own is another file of the run's own
// besides list_file (the old list, which a create or append replaces).
//
// With a selection, entries its patterns match are left out unnamed (a
// directory is not entered), and only the directories of its part are
// listed, with their files and the entries they leave out: every
// directory is still walked for the ones below it.
[[nodiscard]] bool WalkDirectory(char* path, HANDLE list_file, const HashPlan& plan,
                                 RunCounts* counts = nullptr,
                                 HANDLE also_own = INVALID_HANDLE_VALUE,
                                 const Selection* selection = nullptr);

// Takes a file a walk found, by its path in the list's form; false stops
// the walk. A visit asks its listings for no sizes (see
// FIND_FIRST_EX_NO_FILE_SIZES): size may read 0 for any file.
using TreeFileVisitor = bool (*)(void* context, const char* path, std::uint64_t size);

// The walk of WalkDirectory over path, by its rules and selection, but
// each file it would list goes to visit unopened, in listing order, and
// nothing is written. The run's own files are the visitor's to tell. Of
// the entries left out only the directories that could not be listed
// are named.
// Returns false when visit did, or when memory (CountNoMemory) failed.
[[nodiscard]] bool VisitTreeFiles(char* path, const Selection* selection, RunCounts* counts,
                                  TreeFileVisitor visit, void* context);

// The lines of a walk waiting for their turn, and the files of those lines
// being hashed: a line is written once every line before it is, and a FILE
// line once its file is hashed.
struct WalkQueue;

// Bytes of whole lines gathered before they are written.
constexpr int ListWriteBatchSize = 64 * 1024;

// A queue for lines to list_file; nullptr when its memory cannot be had.
WalkQueue* StartWalkQueue(HANDLE list_file, const HashPlan& plan,
                          RunCounts* counts = nullptr,
                          HANDLE also_own = INVALID_HANDLE_VALUE);
// Closes the files still being hashed and frees the queue; lines not yet
// written are dropped.
void EndWalkQueue(WalkQueue* queue);

// Queues the DIR line of path and the FILE lines of directory's files in
// listing order; the files are left out silently when they cannot be
// hashed. Both return true, or false when a line they had to write out to
// make room could not be written.
[[nodiscard]] bool QueueDirLine(WalkQueue* queue, const char* path);
[[nodiscard]] bool ListDirectoryFiles(const char* directory, WalkQueue* queue);

// Queues the FILE line of one listing entry of directory. The file is left
// out without being opened when the entry carries FILE_ATTRIBUTE_DEVICE;
// when its name cannot be carried by the list, when it cannot be hashed, or
// when the size hashed differs from the entry's size: the file changed
// between listing and hashing, and the line would not describe one content.
// Returns false only when a write fails.
[[nodiscard]] bool QueueFileEntry(WalkQueue* queue, const char* directory,
                                  const WIN32_FIND_DATAA& entry);

// Writes every queued line, hashing what it must, and the lines gathered.
// Returns true, or false at the first failed write or a file that could not
// be opened for lack of handles.
[[nodiscard]] bool WriteQueuedLines(WalkQueue* queue);

#endif  // DORVANE_LISTING_WALKER_H_
