// Checks on list text written by the program, for the fault tests.
#ifndef DORVANE_TESTS_FAULTS_LIST_CHECK_H_
#define DORVANE_TESTS_FAULTS_LIST_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

// One FILE line taken apart.
struct ListedFile {
  std::string directory;  // the DIR path above it, e.g. ".\sub\"
  std::string digest;
  std::uint64_t size;
  std::string name;
};

// Empty when text is a well-formed list: whole CR LF lines only, each a
// ROOT, DIR or FILE line in the exact layout the program writes, no control
// byte inside a line, every section a ROOT line then a DIR line for ".\".
// Otherwise the first fault found, with its line number.
std::string ListFault(const std::string& text);

// The FILE lines of a well-formed list, in order.
std::vector<ListedFile> ListedFiles(const std::string& text);

#endif  // DORVANE_TESTS_FAULTS_LIST_CHECK_H_
