// The audit, parts, sections checked below their own roots, exclusions
// and missing files left unreported, each checked against a model of the
// tree or against one whole run.
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "listing/selection.h"
#include "posix/limited_run.h"
#include "test_util.h"

static bool operator==(const RunResult& a, const RunResult& b) {
  return a.exit_code == b.exit_code && a.output == b.output;
}

static std::ostream& operator<<(std::ostream& out, const RunResult& run) {
  return out << "exit " << run.exit_code << ": " << run.output;
}

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The lines of an audit report but its counts, sorted, with a reason cut
// off; *counts gets the counts' six numbers added.
std::vector<std::string> ReportLines(const std::string& text, std::vector<long>* counts) {
  std::vector<std::string> lines;
  for (std::string line : Lines(text)) {
    if (line.rfind("# ", 0) == 0) {
      std::istringstream numbers(line.substr(2));
      for (long& count : *counts) {
        long n = 0;
        std::string word;
        numbers >> n >> word;
        count += n;
      }
      continue;
    }
    if (line.rfind("! ", 0) == 0) line = line.substr(0, line.find('\t'));
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// A run with its standard error in errors, emptied first.
RunResult RunTold(const std::vector<std::string>& arguments, const char* errors) {
  WriteTextFile(errors, "");
  return RunDorvaneWith(arguments, {.errors = errors});
}

// The failing paths of a test's standard output.
std::vector<std::string> Failures(const std::string& output) {
  std::vector<std::string> lines = Lines(output), failures;
  const auto start = std::find(lines.begin(), lines.end(), "errors:");
  for (auto at = start == lines.end() ? start : start + 1;
       at != lines.end() && at->rfind("press any key", 0) != 0; ++at) {
    failures.push_back(*at);
  }
  std::sort(failures.begin(), failures.end());
  return failures;
}

TEST(Selection, PatternsMatchAsFnmatchDoesAndPartsStayPut) {
  std::mt19937 random(11);
  const std::string alphabet = "ab/.*?[]!-";
  auto draw = [&](std::size_t most) {
    std::string text(random() % most, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    return text;
  };
  for (int i = 0; i < 200000; ++i) {
    const std::string pattern = draw(7), text = draw(7);
    // fnmatch reads "[." in a set as a collating symbol, which patterns
    // here have not.
    if (text.find_first_of("*?[]") != std::string::npos || pattern.find("[.") != std::string::npos) {
      continue;
    }
    const bool expected = fnmatch(pattern.c_str(), text.c_str(), FNM_NOESCAPE) == 0;
    ASSERT_EQ(MatchesPattern(pattern.c_str(), text.c_str()), expected) << pattern << " " << text;
    std::string windows = text;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    ASSERT_EQ(MatchesPattern(pattern.c_str(), windows.c_str()), expected) << pattern << " " << text;
  }
  // Every process on every platform must split a tree alike, in every
  // release: the hash is part of the format.
  EXPECT_EQ(PartOfPath(".\\", 1000), PartOfPath("", 1000));
  EXPECT_EQ(PartOfPath(".\\sub\\", 1000000), PartOfPath("./sub/", 1000000));
  EXPECT_EQ(PartOfPath("", 1000000), 0xcbf29ce484222325ull % 1000000);
  EXPECT_EQ(PartOfPath(".\\a", 1000000), ((0xcbf29ce484222325ull ^ 'a') * 0x100000001b3ull) % 1000000);
  unsigned part = 0, parts = 0;
  EXPECT_TRUE(ParsePart("3/4", &part, &parts) && part == 2 && parts == 4);
  for (const char* bad : {"0/4", "5/4", "1/0", "1/", "/4", "1/4x", "-1/4", "1/1000001", "1 /4"}) {
    EXPECT_FALSE(ParsePart(bad, &part, &parts)) << bad;
  }
}

// A tree of files of unique contents in a few levels of directories, as
// a map from list path to content.
std::map<std::string, std::string> MakeRandomTree(std::mt19937* random, int files) {
  const std::vector<std::string> directories = {"", "a/", "a/b/", "c/", "c/d e/", "f/"};
  for (const std::string& directory : directories) MakeDirectory("tree/" + directory);
  std::map<std::string, std::string> tree;
  for (int i = 0; i < files; ++i) {
    const std::string directory = directories[(*random)() % directories.size()];
    std::string path = directory + "file " + std::to_string(i);
    const std::string content = "content of " + path + " " + std::to_string((*random)());
    WriteTextFile("tree/" + path, content);
    std::replace(path.begin(), path.end(), '/', '\\');
    tree[".\\" + path] = content;
  }
  return tree;
}

std::string OnDisk(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return "tree/" + path.substr(2);
}

// Changes the tree at random and returns the audit lines it must give.
std::vector<std::string> ChangeTree(std::mt19937* random,
                                    const std::map<std::string, std::string>& tree) {
  std::vector<std::string> expected;
  int moved = 0;
  for (const auto& [path, content] : tree) {
    switch ((*random)() % 10) {
      case 0: case 1:
        WriteTextFile(OnDisk(path), content + " changed");
        expected.push_back("* " + path);
        break;
      case 2:
        RemoveFile(OnDisk(path));
        expected.push_back("- " + path);
        break;
      case 3: {
        const std::string to = ".\\c\\moved " + std::to_string(moved++);
        std::filesystem::rename(OnDisk(path), OnDisk(to));
        expected.push_back("> " + path + "\tmoved\t" + to);
        break;
      }
      case 4:
        chmod(OnDisk(path).c_str(), 0);
        expected.push_back("! " + path);
        break;
      default: expected.push_back("= " + path);
    }
  }
  for (int i = 0; i < 12; ++i) {
    const std::string path = i % 2 ? ".\\a\\b\\new " : ".\\new dir\\new ";
    MakeDirectory("tree/new dir");
    WriteTextFile(OnDisk(path + std::to_string(i)), "new " + std::to_string((*random)()));
    expected.push_back("+ " + path + std::to_string(i));
  }
  // Left out of the search by the patterns.
  WriteTextFile("tree/a/left.tmp", "x");
  MakeDirectory("tree/c/cache");
  WriteTextFile("tree/c/cache/inside", "y");
  std::sort(expected.begin(), expected.end());
  return expected;
}

std::vector<long> CountsOf(const std::vector<std::string>& lines) {
  std::vector<long> counts(6);
  const std::string order = "=*-+>!";
  for (const std::string& line : lines) ++counts[order.find(line[0])];
  return counts;
}

// The audit against a model of the changes, whole and in parts; the
// default report stays that of a plain test, and the parts' reports and
// failures together are the whole run's, each line given by one part.
TEST(Audit, ReportsWhatTheModelChangedWholeAndInParts) {
  ScopedTempDir temp;
  chmod(".", 0777);
  std::mt19937 random(5);
  const auto tree = MakeRandomTree(&random, 300);
  ChangeDirectory("tree");
  ASSERT_EQ(RunDorvane({"c", "../list.lst", "."}).exit_code, 0);
  ChangeDirectory("..");
  const std::vector<std::string> expected = ChangeTree(&random, tree);
  ChangeDirectory("tree");
  const RunResult plain = RunDorvaneWith({"t", "../list.lst"}, {.as_nobody = true});
  const std::vector<std::string> audit_args = {"t", "--audit", "../whole.txt", "--exclude",
                                               "*.tmp", "--exclude=c/cache", "../list.lst"};
  const RunResult audited = RunDorvaneWith(audit_args, {.as_nobody = true});
  EXPECT_EQ(plain.exit_code, 2);
  EXPECT_EQ(audited.exit_code, 2);
  EXPECT_EQ(audited.output, plain.output);
  std::vector<long> counts(6);
  EXPECT_EQ(ReportLines(ReadTextFile("../whole.txt"), &counts), expected);
  EXPECT_EQ(counts, CountsOf(expected));

  for (const int parts : {2, 3, 7}) {
    std::vector<std::string> lines, failures;
    std::vector<long> summed(6);
    for (int part = 1; part <= parts; ++part) {
      const std::string spec = std::to_string(part) + "/" + std::to_string(parts);
      const RunResult run = RunDorvaneWith(
          {"t", "--part", spec, "--audit=-", "--exclude", "*.tmp", "--exclude", "c/cache",
           "../list.lst"},
          {.as_nobody = true});
      bool differs = false;
      for (const std::string& line : Lines(run.output)) {
        if (line.size() > 1 && line[1] == ' ' && std::string("=*!-+>#").find(line[0]) != std::string::npos) {
          lines.push_back(line);
          differs = differs || (line[0] != '=' && line[0] != '#');
        }
      }
      EXPECT_EQ(run.exit_code, differs ? 2 : 0) << spec;
      for (const std::string& failure : Failures(run.output)) failures.push_back(failure);
    }
    std::string joined;
    for (const std::string& line : lines) joined += line + "\n";
    EXPECT_EQ(ReportLines(joined, &summed), expected) << parts;
    EXPECT_EQ(summed, counts) << parts;
    std::sort(failures.begin(), failures.end());
    EXPECT_EQ(failures, Failures(plain.output)) << parts;
  }
  ChangeDirectory("..");
}

// Past the failures the report holds, the audit goes on to the list's
// end; a read error there leaves the report as a plain test's and the
// audit unfinished, which the status tells.
TEST(Audit, GoesPastTheReportsCapToTheListsEnd) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  const int files = 3000;
  for (int i = 0; i < files; ++i) WriteTextFile("tree/a long name of a file " + std::to_string(i), "1");
  ASSERT_EQ(RunDorvane({"c", "l.lst", "tree"}).exit_code, 0);
  for (int i = 0; i < files; ++i) WriteTextFile("tree/a long name of a file " + std::to_string(i), "2");
  ChangeDirectory("tree");
  // The second of the file layer's 128 KiB reads, well past the cut.
  const long late = 131072;
  ASSERT_GT(ReadTextFile("../l.lst").size(), std::size_t(late));
  for (const long fail_at : {-1L, late}) {
    const RunResult plain = RunDorvaneWith({"t", "../l.lst"}, {.fail_reads_at = fail_at});
    WriteTextFile("../errors.txt", "");
    const RunResult audit = RunDorvaneWith({"t", "--audit", "../a.txt", "../l.lst"},
                                           {.errors = "../errors.txt", .fail_reads_at = fail_at});
    EXPECT_EQ(plain.exit_code, 2);
    EXPECT_NE(plain.output.find("... and some others..."), std::string::npos);
    EXPECT_EQ(audit.output, plain.output);
    std::vector<long> counts(6);
    const std::size_t lines = ReportLines(ReadTextFile("../a.txt"), &counts).size();
    if (fail_at < 0) {
      EXPECT_EQ(audit.exit_code, 2);
      EXPECT_EQ(lines, std::size_t{files});
      EXPECT_EQ(counts, (std::vector<long>{0, files, 0, 0, 0, 0}));
    } else {
      EXPECT_EQ(audit.exit_code, 1);
      EXPECT_LT(lines, std::size_t{files});
      EXPECT_EQ(ReadTextFile("../errors.txt"),
                "dorvane: the audit is not whole: the list could not be read, or the report "
                "written, to its end\n");
    }
  }
  ChangeDirectory("..");
}

// Parts of c concatenated hold the files of one run, each directory once,
// and check clean from anywhere with --roots.
TEST(Parts, ListsOfPartsTogetherAreOneList) {
  ScopedTempDir temp;
  std::mt19937 random(9);
  MakeRandomTree(&random, 120);
  ASSERT_EQ(RunDorvane({"c", "one.lst", "tree"}).exit_code, 0);
  auto entries = [](const std::string& list) {
    std::vector<std::string> lines;
    std::string directory;
    for (const std::string& line : Lines(list)) {
      if (line.rfind("DIR:", 0) == 0) directory = line;
      if (line.rfind("DIR:", 0) == 0 || line.rfind("FILE:", 0) == 0) lines.push_back(directory + line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  for (const int parts : {1, 2, 5}) {
    std::string joined;
    for (int part = 1; part <= parts; ++part) {
      const std::string name = "part" + std::to_string(part) + ".lst";
      ASSERT_EQ(RunDorvane({"c", name, "tree", "--part", std::to_string(part) + "/" + std::to_string(parts)})
                    .exit_code, 0);
      joined += ReadTextFile(name);
    }
    EXPECT_EQ(entries(joined), entries(ReadTextFile("one.lst"))) << parts;
    WriteTextFile("all.lst", joined);
    EXPECT_EQ(RunDorvane({"t", "--roots", "all.lst"}), (RunResult{0, Banner + Prompt})) << parts;
  }
}

// Sections of two trees check as one below their own directories, from
// anywhere; a ROOT that is no directory here is told, and its section is
// checked below the current directory.
TEST(Roots, SectionsCheckBelowTheirOwnDirectories) {
  ScopedTempDir temp;
  MakeDirectory("one");
  MakeDirectory("two/sub");
  WriteTextFile("one/a", "a");
  WriteTextFile("two/sub/b", "b");
  ASSERT_EQ(RunDorvane({"c", "both.lst", "one"}).exit_code, 0);
  ASSERT_EQ(RunDorvane({"a", "both.lst", "two"}).exit_code, 0);
  WriteTextFile("elsewhere.lst", "ROOT: \"/no/such/root\"\r\n" + ReadTextFile("both.lst").substr(
                                     ReadTextFile("both.lst").find("DIR:")));
  MakeDirectory("away");
  ChangeDirectory("away");
  EXPECT_EQ(RunDorvane({"t", "../both.lst"}).exit_code, 2);
  EXPECT_EQ(RunDorvane({"t", "--roots", "../both.lst"}), (RunResult{0, Banner + Prompt}));
  const RunResult audit = RunDorvane({"t", "--roots", "--audit", "-", "../both.lst"});
  EXPECT_EQ(audit.output, Banner + "@ " + temp.path() + "/one\r\n= .\\a\r\n@ " + temp.path() +
                              "/two\r\n= .\\sub\\b\r\n# 2 same, 0 changed, 0 missing, 0 new, 0 moved, "
                              "0 unreadable\r\n" + Prompt);
  // The first section's root is gone: it is looked for below "away".
  const RunResult gone = RunTold({"t", "--roots", "../elsewhere.lst"}, "../errors.txt");
  EXPECT_EQ(gone.output, Banner + "errors:\r\n.\\a\r\n" + Prompt);
  EXPECT_EQ(ReadTextFile("../errors.txt"),
            "dorvane: ROOT /no/such/root is no directory here: its section is checked below " +
                temp.path() + "/away\n");
  ChangeDirectory("..");
}

// Exclusions leave entries out of c unnamed and keep their directories
// unentered; missing files can be left unreported, but not all of them.
TEST(Selection, ExcludedEntriesAndIgnoredMissingFiles) {
  ScopedTempDir temp;
  MakeDirectory("tree/.git/objects");
  MakeDirectory("tree/src");
  WriteTextFile("tree/.git/objects/x", "x");
  WriteTextFile("tree/src/keep.c", "k");
  WriteTextFile("tree/src/drop.o", "o");
  WriteTextFile("tree/src/only.tmp", "t");
  WriteTextFile("tree/top.tmp", "t");
  const RunResult made = RunTold(
      {"c", "--exclude", ".git", "--exclude", "*.o", "--exclude", "src\\only.tmp", "l.lst", "tree"},
      "errors.txt");
  EXPECT_EQ(made, (RunResult{0, Banner + Prompt}));
  EXPECT_EQ(ReadTextFile("errors.txt"), "");
  const std::vector<std::string> lines = Lines(ReadTextFile("l.lst"));
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()),
            (std::vector<std::string>{"DIR:  \".\\\"", "FILE: " + HexDigestOf("t") + "  1  \"top.tmp\"",
                                      "DIR:  \".\\src\\\"", "FILE: " + HexDigestOf("k") + "  1  \"keep.c\""}));
  ChangeDirectory("tree");
  RemoveFile("top.tmp");
  const RunResult subset = RunTold({"t", "../l.lst", "--ignore-missing"}, "../errors.txt");
  EXPECT_EQ(subset, (RunResult{0, Banner + Prompt}));
  EXPECT_EQ(ReadTextFile("../errors.txt"),
            "dorvane: 1 listed file was not found, left unreported (--ignore-missing)\n");
  RemoveFile("src/keep.c");
  const RunResult none = RunTold({"t", "--ignore-missing", "../l.lst"}, "../errors.txt");
  EXPECT_EQ(none, (RunResult{1, Banner + Prompt}));
  EXPECT_EQ(ReadTextFile("../errors.txt"),
            "dorvane: none of the 2 listed files was found, so nothing was checked\n");
  ChangeDirectory("..");
}

// Options a command does not take, or without a good value, end the run
// before anything is opened.
TEST(Selection, BadOptionsAreToldWithTheUsage) {
  ScopedTempDir temp;
  const std::string usage =
      "Syntax:\r\n    Dorvane <command> FileName StartDir\r\n\r\n"
      "command:\r\n    c - create\r\n    a - append\r\n    t - test\r\n\r\n";
  const struct {
    std::vector<std::string> args;
    std::string error;
  } rows[] = {
      {{"t", "--verbose", "l.lst"}, "dorvane: unknown option --verbose\n"},
      {{"c", "--audit", "r", "l.lst", "."}, "dorvane: --audit is no option of c\n"},
      {{"a", "--roots", "l.lst", "."}, "dorvane: --roots is no option of a\n"},
      {{"t", "l.lst", "--part"}, "dorvane: --part needs a value\n"},
      {{"t", "--part=2/1", "l.lst"}, "dorvane: --part cannot take 2/1\n"},
      {{"t", "--roots=yes", "l.lst"}, "dorvane: unknown option --roots=yes\n"},
      {{"t", "--exclude", "*.o", "l.lst"},
       "dorvane: --exclude of t leaves files out of the audit's search: it needs --audit\n"},
  };
  for (const auto& row : rows) {
    const RunResult run = RunTold(row.args, "errors.txt");
    EXPECT_EQ(run, (RunResult{1, Banner + usage})) << row.error;
    EXPECT_EQ(ReadTextFile("errors.txt"), row.error);
  }
  // "--" ends the options: what follows is a name.
  WriteOneFileList("--roots");
  EXPECT_EQ(RunDorvane({"t", "--", "--roots"}), (RunResult{0, CleanTestOutput()}));
}

}  // namespace
