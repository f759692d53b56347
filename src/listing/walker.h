// The tree walk that writes the DIR and FILE lines of a checksum list.
#ifndef DORVANE_LISTING_WALKER_H_
#define DORVANE_LISTING_WALKER_H_

#include "platform/win32.h"

// Writes the DIR line of the directory in path (relative to the current
// directory, in a PathBufferSize buffer), its FILE lines, then the lines of
// each subdirectory in listing order. path is extended in place and holds
// the directory with a closing backslash on return. Entries whose relative
// path would exceed PathBufferSize - 1 characters, and entries whose names
// hold a control byte (0x00-0x1F, 0x7F: a reader ends the name there and
// would take the rest of it for a line of its own), are left out. No
// directory is entered, and no file opened, through a symbolic link in a
// directory of its path (where the platform can tell): a directory swapped
// for a link during the walk keeps its DIR line and nothing below it.
// Returns 1, or 0 as soon as a write to the list file fails; the walk stops
// there.
int WalkDirectory(char* path, HANDLE list_file);

// Writes one FILE line for every entry of directory that is not a directory
// and can be hashed; others are left out silently. Returns 1, or 0 at the
// first failed write.
int ListDirectoryFiles(const char* directory, HANDLE list_file);

// Writes the FILE line of one listing entry of directory. The file is left
// out (and 1 returned) without being opened when the entry carries
// FILE_ATTRIBUTE_DEVICE; when it cannot be hashed, when its name cannot be
// carried by the list, or when the size hashed differs from the entry's
// size: the file changed between listing and hashing, and the line would
// not describe one content. Returns 0 only when the write fails.
int ListFileEntry(const char* directory, const WIN32_FIND_DATAA& entry,
                  HANDLE list_file);

#endif  // DORVANE_LISTING_WALKER_H_
