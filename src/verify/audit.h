// The audit of a test (--audit): one line for each listed file and for
// each file found below the list's directories that it does not list, in
// a line format for scripts and people alike:
//
//   = <path>                 the file is as listed
//   * <path>                 its digest changed
//   ! <path> TAB <reason>    it could not be read (or was refused)
//   - <path>                 it is missing
//   + <path>                 it is new: found, but not listed
//   > <path> TAB moved TAB <new path>
//                            missing, and a new file has its digest and size
//   @ <directory>            (--roots) the directory the next paths lie below
//   # <counts>               the last line
//
// Paths are written as the list writes them (".\dir\name"); every line
// ends with CR LF. Lines of listed files come in list order as the files
// are judged; the missing, moved and new ones follow once the check is
// over, and the counts close the report.
#ifndef DORVANE_VERIFY_AUDIT_H_
#define DORVANE_VERIFY_AUDIT_H_

#include <cstdint>

#include "digest/hash_queue.h"
#include "listing/run_counts.h"
#include "listing/selection.h"
#include "platform/win32.h"

struct Audit;

struct AuditSetup {
  // Where the report goes; INVALID_HANDLE_VALUE: standard output.
  HANDLE report_file;
  // The run's own files, which are never new: the list and the report.
  HANDLE list_file;
  // This run's part of the listed and the new files (each is reported by
  // one part alone), and the patterns the search for new files leaves out.
  const Selection* selection;
  bool roots;           // sections lie below their own directories
  bool ignore_missing;  // missing files go unreported
};

// nullptr when its memory cannot be had.
Audit* StartAudit(const AuditSetup& setup);
void EndAudit(Audit* audit);

// A section begins: its files lie below the current directory.
void AuditSection(Audit* audit);
// A DIR line's path, as read.
void AuditDirectory(Audit* audit, const char* prefix);
// A FILE line as read: its path, digest and size, whether this run checks
// it and whether it lies inside the section (IsPathInside). A file of
// another part is looked for now, when parts are audited, for the moves.
void AuditListed(Audit* audit, const char* path, const char* digest, std::uint64_t size,
                 bool own, bool inside);
// The result of the oldest file this run checks that is not yet judged,
// in list order; same when it passed.
void AuditJudged(Audit* audit, const HashResult& result, bool same);

// The list could not be read to its end, and the check's report does not
// say so (verifier.h): the audit is not whole.
void AuditListCut(Audit* audit);

// Once the check is over: searches the directories the list names for
// files it does not list, hashes those that could be a missing file moved,
// and writes the missing, moved and new files and the counts. The current
// directory is restored. A list not read to its end (!list_read, or
// AuditListCut) has its missing files written, but no new or moved ones:
// its files not read would pass for new. Returns whether the whole
// report was written, of the whole list.
[[nodiscard]] bool FinishAudit(Audit* audit, bool list_read, const HashPlan& plan,
                               RunCounts* counts);

// Whether the report holds any line but "=" ones.
bool AuditDiffers(const Audit* audit);

#endif  // DORVANE_VERIFY_AUDIT_H_
