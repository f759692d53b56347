// A new version of a file, written beside it and put in its place whole:
// until it is finished the file is exactly what it was (or absent, where it
// was), and a process killed at any moment leaves nothing a later run could
// take for the file.
//
// The file's old version, when there is one, stays open for the run and
// keeps other writers out, as an open without sharing does. A path that is
// a symbolic link is followed to its target (where the platform has them):
// the target is replaced, the link stays a link, and a link that points
// nowhere yet makes its target the new file. The new version takes the old
// one's permissions (and owner, where the system lets the process give it).
#ifndef DORVANE_PLATFORM_NEW_VERSION_H_
#define DORVANE_PLATFORM_NEW_VERSION_H_

#include "platform/win32.h"

struct NewVersion;

// Opens the file at path, when it exists, without sharing, and starts its
// new version, empty, beside it. nullptr when the old version cannot be
// opened (held by another run, no regular file, not writable) or the new
// one cannot be made where it must go.
NewVersion* StartNewVersion(const char* path);

// The new version, open for reading and writing, its position at its
// start. Owned by the NewVersion.
HANDLE NewVersionFile(const NewVersion* version);
// The old version, open for reading; INVALID_HANDLE_VALUE when there was
// none. Owned by the NewVersion.
HANDLE OldVersionFile(const NewVersion* version);

// Puts the new version in the old one's place: its data on disk, the old
// version's permissions given, the name replaced in one step, the
// directory synced. True when the name now holds the new version; false
// when any step before the replacement failed (the file is as it was, the
// new version gone) or when a file was made under the name meanwhile where
// there was none (it is left as it is). Frees version either way.
[[nodiscard]] bool FinishNewVersion(NewVersion* version);

// Drops the new version; the file stays as it was. Frees version.
void AbandonNewVersion(NewVersion* version);

// Copies every byte of from, from its start, to to at its position, which
// moves past them (within one file system, cheaply where the system can
// share or clone the data). False when a read or a write failed.
[[nodiscard]] bool CopyFileData(HANDLE from, HANDLE to);

#endif  // DORVANE_PLATFORM_NEW_VERSION_H_
