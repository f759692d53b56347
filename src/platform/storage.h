// What lies beneath the files: the kind of storage, whether data is in
// memory already, and where a file sits on its disk: what it takes to keep
// a spinning disk reading one file after another, in the order the files
// lie on it, while data already in memory is hashed at once.
#ifndef DORVANE_PLATFORM_STORAGE_H_
#define DORVANE_PLATFORM_STORAGE_H_

#include <cstdint>

#include "platform/win32.h"

enum StorageKind { StorageUnknown, StorageRotational, StorageSolid };

// The storage holding the file system of path (a file or a directory, in
// the program's form): rotational when any disk beneath it pays for seeks,
// solid when none does, unknown when the system does not say (network and
// virtual file systems among them).
StorageKind FindStorage(const char* path);

enum CachedRead {
  CachedReadDone,        // *read bytes read; 0 only at the end of the file
  CachedReadNotCached,   // nothing read: the next bytes are not in memory
  CachedReadCannotTell,  // nothing read: the system cannot read this way
  CachedReadFailed       // the read failed
};

// ReadFile at the handle's position, but only of bytes already in memory,
// so it never waits for the disk. Fewer bytes than to_read is no sign of
// the end of the file: the rest may not be in memory yet. The position
// moves by the bytes read, and ReadFile goes on from there.
CachedRead ReadFileIfCached(HANDLE file, void* buffer, DWORD to_read,
                            DWORD* read);

// A number that orders the files of one file system by where they lie on
// its disk, asked without opening the file for reading (its contents stay
// untouched and no other process is kept out): the file's index in the
// file system (its inode), which file systems hand out close to where they
// place the data of the files written together. False when path cannot be
// looked up.
bool QueryFilePlace(const char* path, std::uint64_t* place);

#endif  // DORVANE_PLATFORM_STORAGE_H_
