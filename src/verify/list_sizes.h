// The sizes a checksum list gives, added up ahead of its reading: the
// test's reader runs only a queue's length ahead of the files hashed, so
// the total of the bytes to hash, which its estimate of the time left
// needs, takes a scan of its own. The scan goes through the list's own
// handle (the list is open without sharing: a second open would fail on
// Windows), a piece at a time, and puts the position back after each.
#ifndef DORVANE_VERIFY_LIST_SIZES_H_
#define DORVANE_VERIFY_LIST_SIZES_H_

#include <cstdint>

#include "platform/win32.h"

constexpr DWORD ListScanReadSize = 64 * 1024;

struct ListSizes {
  HANDLE file;
  std::uint64_t offset;  // where the next read starts: a line's start
  std::uint64_t bytes;   // the sizes of the FILE lines scanned
  std::uint64_t files;   // the FILE lines scanned
  bool in_long_line;     // a line longer than a read is being skipped
  bool done;             // the whole list is scanned, or could not be
                         // (then the counts are 0)
  char buffer[ListScanReadSize];
};

// Starts a scan of file from its start; nothing is read yet.
void StartListSizes(ListSizes* sizes, HANDLE file);

// Scans on, at most reads reads of ListScanReadSize, and puts the file's
// position back. Returns false only when the position could not be put
// back: the list's reader must not go on then.
[[nodiscard]] bool ScanListSizes(ListSizes* sizes, int reads);

#endif  // DORVANE_VERIFY_LIST_SIZES_H_
