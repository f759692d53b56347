// The tree walk that writes the DIR and FILE lines of a checksum list.
#ifndef DORVANE_LISTING_WALKER_H_
#define DORVANE_LISTING_WALKER_H_

#include "platform/win32.h"

// Writes the DIR line of the directory in path (relative to the current
// directory, in a PathBufferSize buffer), its FILE lines, then the lines of
// each subdirectory in listing order. path is extended in place and holds
// the directory with a closing backslash on return. Entries whose relative
// path would exceed PathBufferSize - 1 characters are left out.
void WalkDirectory(char* path, HANDLE list_file);

// Writes one FILE line for every entry of directory that is not a directory
// and can be hashed; others are left out silently.
void ListDirectoryFiles(const char* directory, HANDLE list_file);

#endif  // DORVANE_LISTING_WALKER_H_
