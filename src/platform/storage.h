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

enum CacheState {
  CacheHeld,        // every byte asked for is in memory
  CacheNotHeld,     // some are not
  CacheCannotTell,  // the system cannot say without reading
};

// Whether the next bytes (to_read, or up to the end of the file) from the
// handle's position are all in memory, asked without reading them. A read
// that only tries to take what is in memory (ReadFileIfCached) starts the
// disk on what is not, for the kernel reads ahead as for any read; this
// starts nothing, so that on a rotational disk no read but the one whose
// turn it is reaches the disk.
CacheState QueryCachedBytes(HANDLE file, DWORD to_read);

// Asks the system to start reading the first bytes of the open file into
// memory, without waiting for them, so that the reads of several files are
// in flight at once. Nothing happens where the system cannot be asked.
void ReadAheadFile(HANDLE file, std::uint64_t bytes);

// A number that orders the files of one file system by where they lie on
// its disk, asked without opening the file for reading (its contents stay
// untouched and no other process is kept out). Windows: the cluster the
// file's data begins at (its first retrieval pointer), after every file
// whose data lies in its master file table record, in record order. Linux:
// the file's inode, which file systems hand out close to where they place
// the data of the files written together (its first extent would be
// exact, but FIEMAP needs the file open for reading). False when path
// cannot be looked up.
bool QueryFilePlace(const char* path, std::uint64_t* place);

#endif  // DORVANE_PLATFORM_STORAGE_H_
