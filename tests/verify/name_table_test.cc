// Names of every script, listed as UTF-8 and found again on both platforms;
// the CI's cross-platform stage runs such a table through both builds.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

struct NameRow {
  const char* what;
  std::string directory;  // as its DIR line holds it
  std::string name;
};

std::string Repeat(const std::string& text, int count) {
  std::string repeated;
  while (count-- > 0) repeated += text;
  return repeated;
}

// A path of 259 UTF-16 units, the longest listed: .\ and four directories
// of 50 two-byte letters, then a name with one character outside the BMP
// (two units) and 47 CJK characters. One unit more is left out.
const std::string Deep = ".\\" + Repeat(Repeat("\xD0\x96", 50) + "\\", 4);
std::string DeepName(int emoji) {
  return Repeat("\xF0\x9F\x98\x80", emoji) + Repeat("\xE6\x97\xA5", 48 - emoji) + ".txt";
}

const std::vector<NameRow> Rows = {
    {"Latin-1", ".\\", "caf\xC3\xA9.txt"},
    {"Latin-1 directory", ".\\\xC3\x9C" "bung\\", "na\xC3\xAFve.txt"},
    {"Greek", ".\\\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1\\", "\xCE\xB1\xCE\xB2.txt"},
    {"CJK", ".\\", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"},
    {"outside the BMP", ".\\", "\xF0\x9F\x98\x80\xF0\x9F\x8E\x89.txt"},
    {"combining marks, not normalised", ".\\", "e\xCC\x81" "a\xCC\x88.txt"},
    {"precomposed beside them", ".\\", "\xC3\xA9\xC3\xA4.txt"},
    {"259 units", Deep, DeepName(1)},
    // Names Windows' usual path rules change, and "apache." beside "apache".
    {"closing dot", ".\\", "dot."}, {"closing space", ".\\", "trail "},
    {"apache", ".\\apache\\18\\", "apache-18.pom"}, {"apache.", ".\\apache.\\", "own.txt"},
    {"both in a directory", ".\\end. \\", "in"}, {"a port's name", ".\\end. \\", "COM1"},
};

// The start directory, with a name of its own to carry.
const std::string Start = "B\xC3\xA4ume";

// Where a path of the list lies below the start directory.
std::string FilePath(const std::string& list_path) {
  std::string path = Start + list_path.substr(1);
  for (char& c : path) c = c == '\\' ? '/' : c;
  return path;
}

void MakeFile(const NameRow& row) {
  const std::filesystem::path path = ExactPath(FilePath(row.directory + row.name));
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << row.what;
}

TEST(NameTable, EveryNameIsListedAsUtf8AndFoundAgain) {
  ScopedTempDir temp;
  for (const NameRow& row : Rows) MakeFile(row);
  WriteTextFile(FilePath(Deep + DeepName(2)), "260 units: left out");
  const std::string list_name = "\xE5\x88\x97 l\xC3\xAF.txt";
  ASSERT_EQ(RunDorvane({"c", list_name, Start}).exit_code, 0);
  const std::string list = ReadTextFile(list_name);
  EXPECT_NE(list.find(Start + "\"\r\nDIR:  "), std::string::npos) << list.substr(0, 80);
  for (const NameRow& row : Rows) {
    const std::size_t dir = list.find("DIR:  \"" + row.directory + "\"\r\n");
    ASSERT_NE(dir, std::string::npos) << row.what;
    const std::string size = std::to_string(std::string(row.what).size());
    EXPECT_NE(list.find("  " + size + "  \"" + row.name + "\"\r\n", dir), std::string::npos) << row.what;
  }
  EXPECT_EQ(list.find(DeepName(2)), std::string::npos);

  ChangeDirectory(Start);
  EXPECT_EQ(RunDorvane({"t", "../" + list_name}).output, CleanTestOutput());
  // A failure is reported under the list's bytes.
  WriteTextFile(Rows[3].name, "changed");
  EXPECT_EQ(RunDorvane({"t", "../" + list_name}).output,
            Banner + "errors:\r\n.\\" + Rows[3].name + "\r\n" + Prompt);
}

// A list of the earlier Windows builds, names in Windows-1252, still
// verifies (0x80 is past Latin-1: the euro sign); a name found nowhere is
// reported as the list has it.
TEST(NameTable, ListsInTheLegacyCodePageStillVerify) {
  if (!LegacyCodePageIsWindows1252()) GTEST_SKIP() << "another ANSI code page";
  ScopedTempDir temp;
  for (int row : {0, 1}) MakeFile(Rows[row]);
  WriteTextFile(FilePath(".\\\xE2\x82\xAC" "uro"), "abc");
  WriteTextFile("legacy.txt",
                "DIR:  \".\\\"\r\nFILE: " + HexDigestOf(Rows[0].what) + "  1  \"caf\xE9.txt\"\r\n" +
                    "FILE: " + Abc + "  3  \"\x80uro\"\r\nDIR:  \".\\\xDC" "bung\\\"\r\n" +
                    "FILE: " + HexDigestOf(Rows[1].what) + "  1  \"na\xEFve.txt\"\r\n" +
                    "FILE: " + Abc + "  3  \"gon\xE9\"\r\n");
  ChangeDirectory(Start);
  EXPECT_EQ(RunDorvane({"t", "../legacy.txt"}).output,
            Banner + "errors:\r\n.\\\xDC" "bung\\gon\xE9\r\n" + Prompt);
}

// Device names listed where no such files are, in the program's form of a
// path and in a hand-made list's (no DIR line, a directory without ".\"),
// which Windows would take for the devices: each fails, on Windows as
// anywhere, and the null device never passes for an empty file.
TEST(NameTable, DeviceNamesFailLikeAnyFileThatIsNotThere) {
  ScopedTempDir temp;
  MakeDirectory("sub");
  std::string list, report;
  for (const std::string directory : {"", "sub\\", ".\\"}) {
    if (!directory.empty()) list += "DIR:  \"" + directory + "\"\r\n";
    for (const std::string name : {"NUL", "nul.txt", "CON", "AUX", "COM1"}) {
      list += "FILE: D41D8CD98F00B204E9800998ECF8427E  0  \"" + name + "\"\r\n";
      report += directory + name + "\r\n";
    }
  }
  WriteTextFile("devices.lst", list);
  EXPECT_EQ(RunDorvane({"t", "devices.lst"}).output, Banner + "errors:\r\n" + report + Prompt);
}

}  // namespace
