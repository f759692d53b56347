// Windows implementation of the storage queries.
#include <windows.h>
#include <winioctl.h>

#include <cstdlib>
#include <cstring>

#include "platform/storage.h"

namespace {

// Closes the handle on every way out.
struct HandleGuard {
  HANDLE handle;
  ~HandleGuard() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// Asks the volume holding path whether its reads pay for seeks. A volume
// on several disks, a network share or a driver that does not answer is
// unknown.
StorageKind VolumeStorage(const char* path) {
  char mount_point[MAX_PATH];
  char volume[MAX_PATH];
  if (!GetVolumePathNameA(path, mount_point, MAX_PATH) ||
      !GetVolumeNameForVolumeMountPointA(mount_point, volume, MAX_PATH)) {
    return StorageUnknown;
  }
  // "\\?\Volume{...}\" is the volume's root directory; without the last
  // backslash it is the volume itself. No access is asked for: the query
  // needs none, and so needs no administrator.
  const std::size_t length = std::strlen(volume);
  if (length > 0 && volume[length - 1] == '\\') volume[length - 1] = '\0';
  HandleGuard device{CreateFileA(volume, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr)};
  if (device.handle == INVALID_HANDLE_VALUE) return StorageUnknown;
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageDeviceSeekPenaltyProperty;
  query.QueryType = PropertyStandardQuery;
  DEVICE_SEEK_PENALTY_DESCRIPTOR penalty = {};
  DWORD returned = 0;
  if (!DeviceIoControl(device.handle, IOCTL_STORAGE_QUERY_PROPERTY, &query,
                       sizeof query, &penalty, sizeof penalty, &returned,
                       nullptr) ||
      returned < sizeof penalty) {
    return StorageUnknown;
  }
  return penalty.IncursSeekPenalty ? StorageRotational : StorageSolid;
}

}  // namespace

StorageKind FindStorage(const char* path) {
  if (path == nullptr) return StorageUnknown;
  return VolumeStorage(path);
}

// Windows has no flag that makes an ordinary read refuse to wait for the
// disk; the caller reads normally instead.
CachedRead ReadFileIfCached(HANDLE, void*, DWORD, DWORD* read) {
  if (read != nullptr) *read = 0;
  return CachedReadCannotTell;
}

// Windows does not say what of a file its cache holds.
CacheState QueryCachedBytes(HANDLE, DWORD) { return CacheCannotTell; }

// An ordinary handle has no way to ask; overlapped reads would need the
// file opened for them.
void ReadAheadFile(HANDLE, std::uint64_t) {}

bool QueryFilePlace(const char* path, std::uint64_t* place) {
  // Attributes only: such an open takes no part in sharing, so it neither
  // waits for nor keeps out a program that holds the file exclusively.
  HandleGuard file{CreateFileA(path, FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                               nullptr)};
  if (file.handle == INVALID_HANDLE_VALUE) return false;
  // The cluster the file's data begins at, where NTFS tells it; such places
  // sort after every file whose data lives in its master file table record
  // (small files), which are read in the order of their records. Cluster 0
  // is the boot sector's: a driver that answers with it for every file
  // (Wine's does) tells nothing.
  STARTING_VCN_INPUT_BUFFER start = {};
  RETRIEVAL_POINTERS_BUFFER extents = {};
  DWORD returned = 0;
  if ((DeviceIoControl(file.handle, FSCTL_GET_RETRIEVAL_POINTERS, &start, sizeof start,
                       &extents, sizeof extents, &returned, nullptr) ||
       GetLastError() == ERROR_MORE_DATA) &&
      extents.ExtentCount > 0 && extents.Extents[0].Lcn.QuadPart > 0) {
    *place = (std::uint64_t{1} << 63) | static_cast<std::uint64_t>(extents.Extents[0].Lcn.QuadPart);
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.handle, &info)) return false;
  // NTFS: the low 48 bits are the file's record in the master file table,
  // which it fills in order of creation; the high 16 count the record's
  // reuse and say nothing of the place.
  *place = ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
            info.nFileIndexLow) & 0xFFFFFFFFFFFFull;
  return true;
}
