// Windows implementation of a file's new version: a hidden name beside the
// file's target, ".<name>.dorvane-new", marked for deletion on close while
// it is written, so that a killed process leaves nothing; at the end the
// mark is cleared, the data flushed, and the file replaces the old one
// (ReplaceFileW, which keeps the old file's security and attributes) or
// takes the name where there was none (MoveFileExW, which never replaces).
// The new file must be closed first: between its close and the
// replacement a killed process leaves it, and a later run removes it. The
// old list is held without sharing but for deletion, which ReplaceFileW
// needs (seen under Wine 8; where the system still refuses it, the old
// list is closed first and the replacement tried once more).
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "platform/new_version.h"
#include "platform/windows/wide_win32.h"

namespace {

constexpr wchar_t TempSuffix[] = L".dorvane-new";
// Bytes copied at a time.
constexpr DWORD CopyBufferSize = 64 * 1024;

}  // namespace

struct NewVersion {
  HANDLE old_file = INVALID_HANDLE_VALUE;
  HANDLE new_file = INVALID_HANDLE_VALUE;
  wchar_t target[WidePathSize] = {};
  wchar_t temp[WidePathSize] = {};
};

namespace {

// Marks the open file for deletion when it is closed, or clears the mark.
bool MarkForDeletion(HANDLE file, bool marked) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = marked ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// The file the open old version is (a link followed to its target), or the
// absolute form of the path typed where there is none.
bool FindTarget(const wchar_t* wide, NewVersion* version) {
  if (version->old_file != INVALID_HANDLE_VALUE) {
    const DWORD length = GetFinalPathNameByHandleW(version->old_file, version->target,
                                                   WidePathSize, FILE_NAME_NORMALIZED);
    if (length > 0 && length < WidePathSize) return true;
  }
  const DWORD length = GetFullPathNameW(wide, WidePathSize, version->target, nullptr);
  return length > 0 && length < WidePathSize;
}

// ".<name>.dorvane-new" in the target's directory.
bool MakeTempName(NewVersion* version) {
  const wchar_t* slash = std::wcsrchr(version->target, L'\\');
  const std::size_t directory = slash == nullptr ? 0 : slash - version->target + 1;
  const std::size_t name = std::wcslen(version->target + directory);
  if (directory + 1 + name + std::wcslen(TempSuffix) + 1 > WidePathSize) return false;
  std::wmemcpy(version->temp, version->target, directory);
  version->temp[directory] = L'.';
  std::wmemcpy(version->temp + directory + 1, version->target + directory, name);
  std::wcscpy(version->temp + directory + 1 + name, TempSuffix);
  return true;
}

bool OpenOldVersion(const wchar_t* wide, NewVersion* version) {
  version->old_file = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return version->old_file != INVALID_HANDLE_VALUE ||
         GetLastError() == ERROR_FILE_NOT_FOUND;
}

// A hidden file that a killed run left is removed; one that a live run
// holds open cannot be, and the new one cannot be made beside it.
bool OpenNewVersion(NewVersion* version) {
  DeleteFileW(version->temp);
  version->new_file = CreateFileW(version->temp, GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (version->new_file == INVALID_HANDLE_VALUE) return false;
  if (MarkForDeletion(version->new_file, true)) return true;
  CloseHandle(version->new_file);
  version->new_file = INVALID_HANDLE_VALUE;
  DeleteFileW(version->temp);
  return false;
}

void CloseFile(HANDLE* file) {
  if (*file != INVALID_HANDLE_VALUE) CloseHandle(*file);
  *file = INVALID_HANDLE_VALUE;
}

void CloseFiles(NewVersion* version) {
  CloseFile(&version->new_file);
  CloseFile(&version->old_file);
}

bool Replace(const NewVersion* version) {
  return ReplaceFileW(version->target, version->temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                      nullptr, nullptr) != 0;
}

bool PutInPlace(NewVersion* version) {
  if (!MarkForDeletion(version->new_file, false) || !FlushFileBuffers(version->new_file)) {
    return false;
  }
  CloseFile(&version->new_file);
  bool placed = false;
  if (version->old_file == INVALID_HANDLE_VALUE) {
    placed = MoveFileExW(version->temp, version->target, MOVEFILE_WRITE_THROUGH) != 0;
  } else {
    placed = Replace(version);
    if (!placed && GetLastError() == ERROR_SHARING_VIOLATION) {
      CloseFile(&version->old_file);
      placed = Replace(version);
    }
  }
  if (!placed) DeleteFileW(version->temp);
  return placed;
}

}  // namespace

NewVersion* StartNewVersion(const char* path) {
  wchar_t wide[WidePathSize];
  if (path == nullptr || !WidenUtf8(path, wide, WidePathSize)) return nullptr;
  NewVersion* version = new (std::nothrow) NewVersion;
  if (version == nullptr) return nullptr;
  if (!OpenOldVersion(wide, version) || !FindTarget(wide, version) || !MakeTempName(version) ||
      !OpenNewVersion(version)) {
    CloseFiles(version);
    delete version;
    return nullptr;
  }
  return version;
}

HANDLE NewVersionFile(const NewVersion* version) { return version->new_file; }

HANDLE OldVersionFile(const NewVersion* version) { return version->old_file; }

bool FinishNewVersion(NewVersion* version) {
  const bool placed = PutInPlace(version);
  // Closing a file still marked deletes it.
  CloseFiles(version);
  delete version;
  return placed;
}

void AbandonNewVersion(NewVersion* version) {
  CloseFiles(version);
  delete version;
}

bool CopyFileData(HANDLE from, HANDLE to) {
  if (SetFilePointer(from, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  static_assert(CopyBufferSize % 4096 == 0);
  char* buffer = static_cast<char*>(LocalAlloc(LMEM_FIXED, CopyBufferSize));
  if (buffer == nullptr) return false;
  bool copied = true;
  for (DWORD got = CopyBufferSize; copied && got == CopyBufferSize;) {
    DWORD put = 0;
    copied = ReadFile(from, buffer, CopyBufferSize, &got, nullptr) &&
             WriteFile(to, buffer, got, &put, nullptr) && put == got;
  }
  LocalFree(buffer);
  return copied;
}
