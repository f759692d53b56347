// Checking a checksum list against the files it names.
#ifndef DORVANE_VERIFY_VERIFIER_H_
#define DORVANE_VERIFY_VERIFIER_H_

#include <cstddef>

#include "verify/field_reader.h"

constexpr std::size_t FailureListSize = 10240;

// Reads the list from the reader's position to the file's end, hashes every
// listed file by its DIR path and name (relative to the current directory)
// and stores the path of each file that fails in failure_list: NUL after each
// path, closed by an empty entry. A path of length n is stored only while
// n + 1 is less than the room still free. Returns 1 when the whole list was
// read, 0 when a failing path no longer fitted. A read error, or a list that
// ends before its size, stops the reading and leaves reader->failed set.
int VerifyList(ListReader* reader, char* failure_list, std::size_t capacity);

// The test command: verifies the open list and prints "errors:" with the
// failing paths, then "cannot read file" if the list could not be read to its
// end. A listed name that is no regular file fails without being opened.
// Returns 1, or 0 after such a read error or when a line of the report
// could not be written.
int RunTest(HANDLE list_file);

#endif  // DORVANE_VERIFY_VERIFIER_H_
