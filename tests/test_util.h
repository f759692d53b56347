// Helpers for tests on a real file system and of the built program.
// test_util.cc holds the portable ones; test_util_posix.cc and
// test_util_win32.cc the ones each platform does its own way.
#ifndef DORVANE_TESTS_TEST_UTIL_H_
#define DORVANE_TESTS_TEST_UTIL_H_

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "digest/md5_lanes.h"
#include "platform/win32.h"

// What every run prints first, and last before its key wait.
inline const std::string Banner = "Dorvane developers 2026 MD5 checksum generator\r\n\r\n";
inline const std::string Prompt = "press any key to continue...\r\n";
// The digest of "abc" as a FILE line holds it.
inline const std::string Abc = "900150983CD24FB0D6963F7D28E17F72";

// Writes the file "f" (abc) and list_name, a list that names it alone: a
// test of it passes.
void WriteOneFileList(const std::string& list_name);

// The program's output for a test that found no failures.
std::string CleanTestOutput();

// The uppercase hex MD5 digest of bytes, by the program's MD5 core.
std::string HexDigestOf(const std::string& bytes);

// A fresh directory that is made current for the life of the object; the
// previous current directory is restored and the tree removed afterwards.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};

// Keeps a file open the way another program would that does not let the
// program hash it: on Windows without sharing, on POSIX with an exclusive
// flock. Released when the object goes.
class HeldFile {
 public:
  explicit HeldFile(const std::string& path);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool held() const { return held_; }

 private:
  std::intptr_t holder_ = -1;  // the file descriptor or HANDLE
  bool held_ = false;
};

// The file system's path for a name in UTF-8 (on POSIX, any bytes): the
// functions below take names so, as the program does.
std::filesystem::path NativePath(const std::string& name);
// The same below the current directory, keeping a closing dot or space.
std::filesystem::path ExactPath(const std::string& name);

// Whether names of the earlier Windows builds' lists are read as
// Windows-1252: always on POSIX, on Windows where it is the ANSI code page.
bool LegacyCodePageIsWindows1252();

void WriteTextFile(const std::string& path, const std::string& content);
std::string ReadTextFile(const std::string& path);
void MakeDirectory(const std::string& path);
void ChangeDirectory(const std::string& path);
void RemoveFile(const std::string& path);
// count bytes of the repeating pattern 0, 1, ..., 250.
std::string PatternBytes(std::size_t count);
// Asks the system to drop the file's pages from memory, so that the next
// read goes to the disk (where the system allows it; Windows is not asked).
void DropCachedPages(const std::string& path);
// The absolute path GetFullPathNameA makes of name, as the ROOT line holds
// it; empty when it fails.
std::string FullPathOf(const std::string& name);

// The MD5 lane kernels to try a test with: every one this machine can run,
// and the scalar transform in three and in sixteen lanes, so that lane
// counts other than the machine's are tried too.
std::vector<const Md5LaneKernel*> KernelsToTry();

// HashFile's digest of path; on failure "failed:" and the text it left
// (which must be empty).
std::string HashText(const char* path);

// CreateFileA with share mode 0, as the program opens files.
HANDLE OpenHandle(const char* name, DWORD access, DWORD disposition);
HANDLE OpenForReading(const char* name);
// The handle's position, both words.
std::uint64_t FilePosition(HANDLE file);
// Up to count bytes, read with one ReadFile call.
std::string ReadOnce(HANDLE file, DWORD count);

// What FindFirstFileExA/FindNextFileA give for pattern, as "name:low size",
// directories and other entries apart.
struct FoundEntries {
  std::set<std::string> directories;
  std::set<std::string> files;
};
FoundEntries FindEntries(const char* pattern);

struct RunResult {
  int exit_code;
  std::string output;
};
// Runs the built program with the given arguments (UTF-8) without a console or
// controlling terminal (so its final key wait returns at once), with no
// standard input, and collects its standard output.
RunResult RunDorvane(const std::vector<std::string>& arguments);

#endif  // DORVANE_TESTS_TEST_UTIL_H_
