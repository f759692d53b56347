// Helpers for tests on a real file system and of the built program.
#ifndef DORVANE_TESTS_TEST_UTIL_H_
#define DORVANE_TESTS_TEST_UTIL_H_

#include <string>
#include <vector>

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

void WriteTextFile(const std::string& path, const std::string& content);
std::string ReadTextFile(const std::string& path);
void MakeDirectory(const std::string& path);
// count bytes of the repeating pattern 0, 1, ..., 250.
std::string PatternBytes(std::size_t count);

struct RunResult {
  int exit_code;
  std::string output;
};
// Runs the built program with the given arguments in a new session (so it
// has no controlling terminal and its final key wait returns at once), with
// standard input from /dev/null, and collects its standard output.
RunResult RunDorvane(const std::vector<std::string>& arguments);

#endif  // DORVANE_TESTS_TEST_UTIL_H_
