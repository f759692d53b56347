// What a user meets when a run cannot do all it was asked: each case as a
// user would run it, with its exit status, its standard output (the bytes
// of old) and the words on standard error that say what happened.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "posix/limited_run.h"
#include "test_util.h"

namespace {

const std::string Usage =
    "Syntax:\r\n    Dorvane <command> FileName StartDir\r\n\r\n"
    "command:\r\n    c - create\r\n    a - append\r\n    t - test\r\n\r\n";

// A tree with what a list cannot hold or a user may not read: a file and a
// directory closed to all but their owner, names with a newline and with
// a backslash; and lists of other kinds.
void MakeCaseFiles() {
  MakeDirectory("tree/sub");
  MakeDirectory("tree/closed");
  WriteTextFile("tree/a.txt", "abc");
  WriteTextFile("tree/sub/b.txt", "b");
  WriteTextFile("tree/closed/inside.txt", "x");
  WriteTextFile("tree/closed.txt", "x");
  WriteTextFile("tree/bad\nname", "x");
  WriteTextFile("tree/back\\slash", "x");
  chmod("tree/closed", 0);
  chmod("tree/closed.txt", 0);
  std::mt19937 random(7);
  std::string garbage(20000, '\0');
  for (char& byte : garbage) byte = static_cast<char>(random());
  WriteTextFile("garbage.lst", garbage);
  WriteTextFile("empty.lst", "");
  WriteTextFile("sums.md5", "900150983cd24fb0d6963f7d28e17f72  tree/a.txt\n");
  WriteTextFile("sums.sha256", std::string(64, 'a') + " *tree/a.txt\n");
  WriteTextFile("closed.lst", "DIR:  \".\\\"\r\n");
  chmod("closed.lst", 0);
  WriteTextFile("outside.lst", "DIR:  \"..\\\"\r\nFILE: " + Abc + "  3  \"a.txt\"\r\n");
  // Nobody must reach the files whose permissions are tried.
  chmod(".", 0777);
  chmod("tree", 0777);
}

// The lines of standard error, sorted: the walk's come in the order the
// hashing ends.
std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(UserCases, EachRunSaysWhatItCouldNotDo) {
  ScopedTempDir temp;
  MakeCaseFiles();
  const std::string here = std::filesystem::current_path().string();
  const std::string missing_hint = "dorvane: 1 of 1 listed files are missing below the current "
                                   "directory, " + here + "; the list was made in " +
                                   FullPathOf("tree/sub") + ": run the test there";
  const struct {
    const char* what;
    std::vector<std::string> args;
    bool as_nobody;
    int exit_code;
    std::string output;
    std::vector<std::string> errors;  // sorted
  } rows[] = {
      {"random bytes", {"t", "garbage.lst"}, false, 1, Banner + Prompt,
       {"dorvane: garbage.lst holds no FILE line, so nothing was checked"}},
      {"an empty list", {"t", "empty.lst"}, false, 1, Banner + Prompt,
       {"dorvane: empty.lst holds no FILE line, so nothing was checked"}},
      {"an md5sum list", {"t", "sums.md5"}, false, 1, Banner + Prompt,
       {"dorvane: sums.md5 holds no FILE line, so nothing was checked: it looks like an "
        "md5sum list (md5sum -c checks it)"}},
      {"a sha256sum list", {"t", "sums.sha256"}, false, 1, Banner + Prompt,
       {"dorvane: sums.sha256 holds no FILE line, so nothing was checked: it looks like a "
        "list of another tool's digests (such as sha256sum's)"}},
      {"a tree a user may not read all of", {"c", "tree.lst", "tree"}, true, 0, Banner + Prompt,
       {"dorvane: .\\closed\\ cannot be listed: Permission denied; what it holds is left out",
        "dorvane: 4 entries left out of the list",
        "dorvane: left out .\\back\\slash: its name holds a backslash, which a list cannot carry",
        "dorvane: left out .\\bad\\x0Aname: its name holds a control byte, which a list cannot "
        "carry",
        "dorvane: left out .\\closed.txt: cannot be opened: Permission denied"}},
      {"a complete run", {"c", "sub.lst", "tree/sub"}, true, 0, Banner + Prompt, {}},
      {"the test from another directory", {"t", "sub.lst"}, false, 2,
       Banner + "errors:\r\n.\\b.txt\r\n" + Prompt, {missing_hint}},
      {"a missing list", {"t", "nothere.lst"}, false, 1, Banner + "cannot open file\r\n",
       {"dorvane: cannot open nothere.lst: No such file or directory"}},
      {"a directory as the list", {"t", "tree"}, false, 1, Banner + "cannot open file\r\n",
       {"dorvane: cannot open tree: Is a directory"}},
      {"a list the user may not read", {"t", "closed.lst"}, true, 1, Banner + "cannot open file\r\n",
       {"dorvane: cannot open closed.lst: Permission denied"}},
      {"a list in a missing directory", {"c", "none/x.lst", "tree"}, false, 1,
       Banner + "cannot create file\r\n",
       {"dorvane: cannot create none/x.lst: No such file or directory"}},
      {"no start directory", {"c", "x.lst"}, false, 1, Banner + Usage, {}},
      {"a start directory that is none", {"a", "x.lst", "tree/a.txt"}, false, 1,
       Banner + "invalid directory: tree/a.txt\r\n" + Prompt,
       {"dorvane: cannot enter tree/a.txt: Not a directory"}},
      {"a path out of the directory", {"t", "outside.lst"}, false, 2,
       Banner + "errors:\r\n..\\a.txt\r\n" + Prompt,
       {"dorvane: refused ..\\a.txt: the path leads out of the current directory; it is not "
        "opened"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    WriteTextFile("errors.txt", "");
    chmod("errors.txt", 0666);
    const RunResult run = RunDorvaneWith(row.args, {.errors = "errors.txt", .as_nobody = row.as_nobody});
    EXPECT_EQ(run.exit_code, row.exit_code);
    EXPECT_EQ(run.output, row.output);
    EXPECT_EQ(SortedLines(ReadTextFile("errors.txt")), row.errors);
  }
}

}  // namespace
