// The Linux side of finding the storage kind, open to tests that build a
// sysfs tree of their own.
#ifndef DORVANE_PLATFORM_POSIX_STORAGE_POSIX_H_
#define DORVANE_PLATFORM_POSIX_STORAGE_POSIX_H_

#include "platform/storage.h"

// The kind of the block device major:minor as sysfs under sysfs_root
// ("/sys" on a live system) describes it: a partition is looked up as its
// whole disk, and a device built on others (device-mapper, md, bcache) as
// the disks beneath it, rotational when any of them is.
StorageKind FindDeviceStorage(const char* sysfs_root, unsigned major,
                              unsigned minor);

// The same for the file system with device number major:minor, which may
// be one of the numbers the kernel makes up for file systems that span
// devices (btrfs): then the device mountinfo names as its source is asked.
StorageKind FindMountStorage(const char* mountinfo, const char* sysfs_root,
                             unsigned major, unsigned minor);

#endif  // DORVANE_PLATFORM_POSIX_STORAGE_POSIX_H_
