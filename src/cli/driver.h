// The command driver: modes, the list file, and the usage text.
#ifndef DORVANE_CLI_DRIVER_H_
#define DORVANE_CLI_DRIVER_H_

#include "digest/hash_queue.h"
#include "platform/win32.h"

enum RunMode { ModeNone = 0, ModeCreate = 1, ModeAppend = 2, ModeTest = 3 };

// "c", "a" or "t" in either case, the whole argument; ModeNone otherwise.
RunMode ModeFromCommand(const char* command);

// Opens the list file without sharing: test reads an existing file, create
// and append open or create it for writing. INVALID_HANDLE_VALUE on failure.
HANDLE OpenListFile(const char* file_name, RunMode mode);

// Create and append: writes one section (ROOT line and the walk of
// start_dir, which may be null) to the open list file and restores the
// current directory; prints "invalid directory: ..." when start_dir cannot
// be made current, leaving the list untouched. Create empties the list once
// start_dir is current, before the ROOT line. The files are hashed as plan
// says. Returns true, or false when a write to the list file failed (the
// walk stops at the first failed write) or when handles ran out for good
// (*no_handle set; the walk stops there too); the current directory is
// restored all the same.
[[nodiscard]] bool RunListing(RunMode mode, HANDLE list_file, const char* start_dir,
                              const HashPlan& plan, bool* no_handle);

// The test command: verifies the open list, hashing as plan says, and
// prints "errors:" with the failing paths, then "cannot read file" if the
// list could not be read to its end, or "too many open files" if a file
// could not be opened for lack of handles (the check stops there). A listed
// name that is no regular file fails without being opened. Returns true, or
// false after such a read error, lack of handles, or when a line of the
// report could not be written.
[[nodiscard]] bool RunTest(HANDLE list_file, const HashPlan& plan);

// Prints the usage text and waits for a key.
void PrintUsage();

#endif  // DORVANE_CLI_DRIVER_H_
