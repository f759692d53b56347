// Helpers for tests that work the same on every platform.
#include "test_util.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "digest/hash_file.h"
#include "digest/md5.h"
#include "digest/scalar_lanes.h"
#include "platform/win32.h"

void WriteTextFile(const std::string& path, const std::string& content) {
  std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << path;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void MakeDirectory(const std::string& path) {
  std::filesystem::create_directories(NativePath(path));
}

void ChangeDirectory(const std::string& path) {
  std::filesystem::current_path(NativePath(path));
}

void RemoveFile(const std::string& path) {
  ASSERT_TRUE(std::filesystem::remove(NativePath(path))) << path;
}

std::string PatternBytes(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

std::string FullPathOf(const std::string& name) {
  char buffer[MAX_PATH];
  const DWORD length = GetFullPathNameA(name.c_str(), MAX_PATH, buffer, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(buffer) : std::string();
}

void WriteOneFileList(const std::string& list_name) {
  WriteTextFile("f", "abc");
  WriteTextFile(list_name, "DIR:  \".\\\"\r\nFILE: " + Abc + "  3  \"f\"\r\n");
}

std::string CleanTestOutput() { return Banner + Prompt; }

std::string HexDigestOf(const std::string& bytes) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, reinterpret_cast<const unsigned char*>(bytes.data()),
            static_cast<std::uint32_t>(bytes.size()));
  unsigned char digest[Md5DigestSize];
  Md5Final(digest, &context);
  char hex[HexDigestSize];
  DigestToHex(digest, hex);
  return hex;
}

std::vector<const Md5LaneKernel*> KernelsToTry() {
  const Md5LaneKernel* usable[8];
  const int count = UsableMd5LaneKernels(usable, 8);
  std::vector<const Md5LaneKernel*> kernels(usable, usable + count);
  kernels.push_back(&ScalarLaneKernels[2]);
  kernels.push_back(&ScalarLaneKernels[15]);
  return kernels;
}

std::string HashText(const char* path) {
  char hex[HexDigestSize] = "garbage";
  return HashFile(path, hex) == 1 ? std::string(hex) : "failed:" + std::string(hex);
}

HANDLE OpenHandle(const char* name, DWORD access, DWORD disposition) {
  return CreateFileA(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE OpenForReading(const char* name) {
  return OpenHandle(name, GENERIC_READ, OPEN_EXISTING);
}

std::uint64_t FilePosition(HANDLE file) {
  LONG high = 0;
  const DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
  return (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
}

std::string ReadOnce(HANDLE file, DWORD count) {
  std::string bytes(count, '\0');
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(file, bytes.data(), count, &got, nullptr));
  bytes.resize(got);
  return bytes;
}

FoundEntries FindEntries(const char* pattern) {
  FoundEntries found;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileExA(pattern, FindExInfoStandard, &entry, FindExSearchNameMatch,
                                 nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    const bool is_directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    (is_directory ? found.directories : found.files)
        .insert(entry.cFileName + std::string(":") + std::to_string(entry.nFileSizeLow));
  } while (FindNextFileA(find, &entry));
  EXPECT_TRUE(FindClose(find));
  return found;
}
