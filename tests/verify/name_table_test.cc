// Names of every script, listed as UTF-8 and found again by the test, on
// both platforms (the CI's cross-platform stage runs the same table through
// both builds in both directions).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

struct NameRow {
  const char* what;
  std::string directory;  // below the start directory; "" for it
  std::string name;
};

// A path of 259 UTF-16 units, the longest listed: .\ and four directories
// of 50 two-byte letters, then a name with one character outside the BMP
// (two units) and 47 CJK characters. One unit more is left out.
const std::string Deep = std::string(".\\") + [] {
  std::string level;
  for (int i = 0; i < 50; ++i) level += "\xD0\x96";
  return level + "\\" + level + "\\" + level + "\\" + level + "\\";
}();
std::string DeepName(int emoji) {
  std::string name;
  for (int i = 0; i < emoji; ++i) name += "\xF0\x9F\x98\x80";
  for (int i = emoji; i < 48; ++i) name += "\xE6\x97\xA5";
  return name + ".txt";
}

const std::vector<NameRow> Rows = {
    {"Latin-1", "", "caf\xC3\xA9.txt"},
    {"Latin-1 directory", "\xC3\x9C" "bung", "na\xC3\xAFve.txt"},
    {"Greek", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1", "\xCE\xB1\xCE\xB2\xCE\xB3.txt"},
    {"CJK", "", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"},
    {"outside the BMP", "", "\xF0\x9F\x98\x80\xF0\x9F\x8E\x89.txt"},
    {"combining marks, not normalised", "", "e\xCC\x81" "a\xCC\x88.txt"},
    {"precomposed beside them", "", "\xC3\xA9\xC3\xA4.txt"},
    {"259 units", Deep.substr(2, Deep.size() - 3), DeepName(1)},
};

std::string ListPath(const NameRow& row) {
  return ".\\" + (row.directory.empty() ? "" : row.directory + "\\") + row.name;
}

std::string FilePath(const std::string& list_path) {
  std::string path = "tree" + list_path.substr(1);
  for (char& c : path) c = c == '\\' ? '/' : c;
  return path;
}

TEST(NameTable, EveryNameIsListedAsUtf8AndFoundAgain) {
  ScopedTempDir temp;
  const std::string start = "B\xC3\xA4ume";
  for (const NameRow& row : Rows) {
    MakeDirectory(FilePath(".\\" + row.directory));
    WriteTextFile(FilePath(ListPath(row)), row.what);
  }
  WriteTextFile(FilePath(Deep + DeepName(2)), "260 units: left out");
  std::filesystem::rename(NativePath("tree"), NativePath(start));
  const std::string list_name = "\xE5\x88\x97 l\xC3\xAF.txt";
  ASSERT_EQ(RunDorvane({"c", list_name, start}).exit_code, 0);
  const std::string list = ReadTextFile(list_name);
  EXPECT_NE(list.find(start + "\"\r\nDIR:  "), std::string::npos) << list.substr(0, 80);
  for (const NameRow& row : Rows) {
    const std::size_t dir = list.find("DIR:  \"" + ListPath({"", row.directory, ""}) + "\"\r\n");
    ASSERT_NE(dir, std::string::npos) << row.what;
    EXPECT_NE(list.find("  " + std::to_string(std::string(row.what).size()) + "  \"" +
                        row.name + "\"\r\n", dir),
              std::string::npos) << row.what;
  }
  EXPECT_EQ(list.find(DeepName(2)), std::string::npos);

  ChangeDirectory(start);
  EXPECT_EQ(RunDorvane({"t", "../" + list_name}).output, CleanTestOutput());
  // A failure is reported under the list's bytes.
  WriteTextFile(ListPath(Rows[3]).substr(2), "changed");
  EXPECT_EQ(RunDorvane({"t", "../" + list_name}).output,
            Banner + "errors:\r\n" + ListPath(Rows[3]) + "\r\n" + Prompt);
}

// A list of the earlier Windows builds, names in the legacy code page, still
// verifies; a name found nowhere is reported as the list has it.
TEST(NameTable, ListsInTheLegacyCodePageStillVerify) {
  ScopedTempDir temp;
  std::string list;
  for (const NameRow& row : {Rows[0], Rows[1]}) {
    MakeDirectory("tree/" + row.directory);
    WriteTextFile(FilePath(ListPath(row)), row.what);
    const std::string directory = InLegacyCodePage(row.directory);
    const std::string name = InLegacyCodePage(row.name);
    if (name.empty() || (directory.empty() && !row.directory.empty())) {
      GTEST_SKIP() << "the ANSI code page cannot write " << row.what;
    }
    list += "DIR:  \".\\" + directory + (directory.empty() ? "" : "\\") + "\"\r\n";
    list += "FILE: " + HexDigestOf(row.what) + "  1  \"" + name + "\"\r\n";
  }
  const std::string missing = InLegacyCodePage("gon\xC3\xA9");
  list += "FILE: " + Abc + "  3  \"" + missing + "\"\r\n";
  WriteTextFile("legacy.txt", list);
  ChangeDirectory("tree");
  EXPECT_EQ(RunDorvane({"t", "../legacy.txt"}).output,
            Banner + "errors:\r\n.\\" + InLegacyCodePage(Rows[1].directory) + "\\" + missing +
                "\r\n" + Prompt);
}

}  // namespace
