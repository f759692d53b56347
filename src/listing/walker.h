// The tree walk that writes the DIR and FILE lines of a checksum list.
#ifndef DORVANE_LISTING_WALKER_H_
#define DORVANE_LISTING_WALKER_H_

#include "digest/md5_lanes.h"
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
// keeps its DIR line and nothing below it. The files are hashed with
// kernel, several at once, while the walk goes on ahead of the lines
// written; the lines come out in the order of a walk that hashed each file
// in its turn. Returns true, or false as soon as a write to the list file
// fails (the walk stops there) or the walk's memory cannot be had.
[[nodiscard]] bool WalkDirectory(char* path, HANDLE list_file,
                                 const Md5LaneKernel* kernel);

// The lines of a walk waiting for their turn, and the files of those lines
// being hashed: a line is written once every line before it is, and a FILE
// line once its file is hashed.
struct WalkQueue;

// A queue for lines to list_file; nullptr when its memory cannot be had.
WalkQueue* StartWalkQueue(HANDLE list_file, const Md5LaneKernel* kernel);
// Closes the files still being hashed and frees the queue.
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

// Writes every queued line, hashing what it must. Returns true, or false at
// the first failed write.
[[nodiscard]] bool WriteQueuedLines(WalkQueue* queue);

#endif  // DORVANE_LISTING_WALKER_H_
