// Checking a checksum list against the files it names.
#ifndef DORVANE_VERIFY_VERIFIER_H_
#define DORVANE_VERIFY_VERIFIER_H_

#include <cstddef>

#include "digest/hash_queue.h"
#include "listing/run_counts.h"
#include "listing/selection.h"
#include "verify/audit.h"
#include "verify/field_reader.h"

constexpr std::size_t FailureListSize = 10240;

// What a test is asked beyond its list.
struct TestOptions {
  // This run's part of the listed files (by PartOfPath); the others are
  // read and not checked. Null: all of them.
  const Selection* selection;
  // Each section's paths lie below the directory its ROOT line names,
  // where that is a directory here (else below the current directory);
  // the current directory is restored at the end.
  bool roots;
  // A file that is not found is no failure and goes unreported
  // (counts->ignored).
  bool ignore_missing;
  // Takes every listed file, in list order (may be null).
  Audit* audit;
};

// Reads the list from the reader's position to the file's end, hashes every
// listed file by its DIR path and name (relative to the current directory;
// a path that could lead elsewhere fails without being opened, see
// IsPathInside) and stores the path of each file that fails in failure_list: NUL after each
// path, closed by an empty entry. A path of length n is stored only while
// n + 1 is less than the room still free. Returns 1 when the whole list was
// read, 0 when a failing path no longer fitted. A read error, or a list that
// ends before its size, stops the reading and leaves reader->failed set.
// Files are hashed as plan says, several at once, while the reading goes
// on ahead; they are judged in list order, so the failure list and the
// point where the reading stops are those of checking one file at a time (a
// read error met past a failing path that no longer fitted is not
// reported). A file that could not be opened for lack of handles, after
// waiting while the run held others (see hash_queue.h), stops the check
// there, told to counts (CountNoHandle), and the failure list holds the
// failures before it. So does a want of memory, for the queue or for a
// file's open (CountNoMemory). Files judged go to counts, when given, with the FILE
// lines read, the first ROOT line's path, and each path refused named.
// options, when given, choose the files checked and where they lie.
int VerifyList(ListReader* reader, char* failure_list, std::size_t capacity,
               const HashPlan& plan, RunCounts* counts = nullptr,
               const TestOptions* options = nullptr);

// Whether a listed path (DIR path and name, in the list's form) stays below
// the current directory: it has no ".." component, does not begin with '\'
// or '/' (the root, a UNC name, a device path) and no drive letter. Both
// '\' and '/' separate components. A list the program wrote never holds
// such a path; a hand-made one could make the test read files anywhere and
// tell whether they match a guessed digest.
bool IsPathInside(const char* path);

// What a list without a FILE line seems to be, from its first bytes (the
// first non-empty line decides): a text for people, such as "an md5sum
// list", or nullptr when it is like nothing known. An md5sum-style line
// is a digest of 32 hex digits, a space, and a space or a '*' before the
// name (a leading '\\' marks an escaped name); digests of other lengths
// come from other tools; "MD5 (name) = digest" is the BSD tagged form.
const char* RecognizeOtherList(const char* head, std::size_t length);

#endif  // DORVANE_VERIFY_VERIFIER_H_
