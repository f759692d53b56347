#include "listing/walker.h"

#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "listing/list_format.h"
#include "test_util.h"

namespace {

// Walks "." of the current directory into list_name and returns the text.
std::string WalkCurrentDirectory(const char* list_name = "../walk.lst") {
  HANDLE list = OpenHandle(list_name, GENERIC_WRITE, OPEN_ALWAYS);
  EXPECT_NE(list, INVALID_HANDLE_VALUE);
  char path[PathBufferSize] = ".";
  EXPECT_TRUE(WalkDirectory(path, list, ChooseHashPlan()));
  EXPECT_STREQ(path, ".\\");
  CloseHandle(list);
  return ReadTextFile(list_name);
}

// The DIR lines in order, each with the set of its FILE lines.
using Sections = std::vector<std::pair<std::string, std::set<std::string>>>;

Sections ParseSections(const std::string& text) {
  Sections sections;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_FALSE(line.empty() || line.back() != '\r') << "no CR LF: " << line;
    line.pop_back();
    if (line.rfind(DirTag, 0) == 0) {
      sections.push_back({line, {}});
    } else {
      EXPECT_FALSE(sections.empty()) << line;
      if (!sections.empty()) sections.back().second.insert(line);
    }
  }
  return sections;
}

std::map<std::string, std::set<std::string>> AsMap(const Sections& sections) {
  return {sections.begin(), sections.end()};
}

TEST(WalkDirectory, WritesTheExampleSectionExactly) {
  ScopedTempDir temp;
  MakeDirectory("data/sub");
  WriteTextFile("data/empty.bin", "");
  WriteTextFile("data/sub/abc.txt", "abc");
  ChangeDirectory("data");
  EXPECT_EQ(WalkCurrentDirectory(),
            "DIR:  \".\\\"\r\n"
            "FILE: D41D8CD98F00B204E9800998ECF8427E  0  \"empty.bin\"\r\n"
            "DIR:  \".\\sub\\\"\r\n"
            "FILE: 900150983CD24FB0D6963F7D28E17F72  3  \"abc.txt\"\r\n");
}

TEST(WalkDirectory, ListsFilesBeforeSubdirectoriesAndEveryKindOfName) {
  ScopedTempDir temp;
  MakeDirectory("data/a/deep");
  MakeDirectory("data/empty");
  WriteTextFile("data/.hidden", "abc");
  WriteTextFile("data/12 name 34", "");
  WriteTextFile("data/noext", "abc");
  WriteTextFile("data/a/deep/x.txt", "abc");
  WriteTextFile("data/z.txt", "abc");
  ChangeDirectory("data");
  const Sections sections = ParseSections(WalkCurrentDirectory());
  ASSERT_EQ(sections.size(), 4u);
  EXPECT_EQ(sections[0].first, "DIR:  \".\\\"");
  const std::string abc = "900150983CD24FB0D6963F7D28E17F72  3  ";
  const std::string empty = "D41D8CD98F00B204E9800998ECF8427E  0  ";
  const std::map<std::string, std::set<std::string>> expected = {
      {"DIR:  \".\\\"",
       {"FILE: " + abc + "\".hidden\"", "FILE: " + empty + "\"12 name 34\"",
        "FILE: " + abc + "\"noext\"", "FILE: " + abc + "\"z.txt\""}},
      {"DIR:  \".\\a\\\"", {}},
      {"DIR:  \".\\a\\deep\\\"", {"FILE: " + abc + "\"x.txt\""}},
      {"DIR:  \".\\empty\\\"", {}},
  };
  EXPECT_EQ(AsMap(sections), expected);
  // Depth first: a directory's subdirectories follow it directly.
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].first == "DIR:  \".\\a\\\"") {
      ASSERT_LT(i + 1, sections.size());
      EXPECT_EQ(sections[i + 1].first, "DIR:  \".\\a\\deep\\\"");
    }
  }
}

TEST(WalkDirectory, LeavesOutTheListItself) {
  ScopedTempDir temp;
  MakeDirectory("data/real");
  WriteTextFile("data/real/f", "abc");
  ChangeDirectory("data");
  // The list lies inside the tree, held by the walk's caller.
  const Sections sections = ParseSections(WalkCurrentDirectory("inside.lst"));
  const std::map<std::string, std::set<std::string>> expected = {
      {"DIR:  \".\\\"", {}},
      {"DIR:  \".\\real\\\"", {"FILE: 900150983CD24FB0D6963F7D28E17F72  3  \"f\""}},
  };
  EXPECT_EQ(AsMap(sections), expected);
}

TEST(WalkDirectory, LeavesOutPathsLongerThanThePathBuffer) {
  ScopedTempDir temp;
  const std::string top(200, 'a');
  // ".\" + top + "\" + sub + "\" is 259 characters with a 55-character sub.
  const std::string fits(55, 'b');
  const std::string too_long(56, 'c');
  MakeDirectory("data/" + top + "/" + fits);
  MakeDirectory("data/" + top + "/" + too_long);
  // ".\" + top + "\" + name: 259 characters with a 56-character name.
  WriteTextFile("data/" + top + "/" + std::string(56, 'f'), "");
  WriteTextFile("data/" + top + "/" + std::string(57, 'g'), "");
  WriteTextFile("data/" + top + "/" + fits + "/x", "");
  ChangeDirectory("data");
  const auto sections = AsMap(ParseSections(WalkCurrentDirectory()));
  const std::string empty = "FILE: D41D8CD98F00B204E9800998ECF8427E  0  \"";
  const std::map<std::string, std::set<std::string>> expected = {
      {"DIR:  \".\\\"", {}},
      {"DIR:  \".\\" + top + "\\\"", {empty + std::string(56, 'f') + "\""}},
      {"DIR:  \".\\" + top + "\\" + fits + "\\\"", {}},
  };
  EXPECT_EQ(sections, expected);
}

}  // namespace
