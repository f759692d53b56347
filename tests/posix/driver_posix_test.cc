// The built program on POSIX: its digests against coreutils md5sum.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

// Every digest of a tree of varied files equals coreutils md5sum's.
TEST(Driver, DigestsAgreeWithMd5sum) {
  ScopedTempDir temp;
  MakeDirectory("data/x/y");
  std::string names;
  for (std::size_t size : {0u, 1u, 55u, 64u, 4096u, 8192u, 65537u, 300000u}) {
    const std::string name = "data/" + std::string(size % 2 ? "x/" : "x/y/") + "f" + std::to_string(size);
    WriteTextFile(name, PatternBytes(size));
    names += " " + name;
  }
  ASSERT_EQ(RunDorvane({"c", "list.txt", "data"}).exit_code, 0);
  const std::string list = ReadTextFile("list.txt");
  FILE* md5sum = popen(("md5sum" + names).c_str(), "r");
  ASSERT_NE(md5sum, nullptr);
  char line[512];
  int checked = 0;
  while (fgets(line, sizeof line, md5sum) != nullptr) {
    std::string hex(line, 32);
    for (char& c : hex) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::string name = std::string(line + 34);
    name = name.substr(name.rfind('/') + 1);
    name.pop_back();
    const std::string size = name.substr(1);
    EXPECT_NE(list.find("FILE: " + hex + "  " + size + "  \"" + name + "\"\r\n"), std::string::npos) << name;
    ++checked;
  }
  pclose(md5sum);
  EXPECT_EQ(checked, 8);
}

// The new list replaces the old one's file: a list path that is a symbolic
// link (to a link, dangling at first) is followed and stays a link; the
// mode is kept, and so is the owner where the run may give it (root).
TEST(Driver, TheNewListTakesTheTargetOfALinkAndKeepsItsModeAndOwner) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  MakeDirectory("lists");
  ASSERT_TRUE(symlink("lists/real.lst", "link.lst") == 0 && symlink("link.lst", "chain.lst") == 0);
  ASSERT_EQ(RunDorvane({"c", "link.lst", "tree"}).exit_code, 0);
  const std::string section = ReadTextFile("lists/real.lst");
  const bool root = geteuid() == 0;
  ASSERT_TRUE(chmod("lists/real.lst", 0640) == 0 && (!root || chown("lists/real.lst", 12, 34) == 0));
  ASSERT_EQ(RunDorvane({"a", "chain.lst", "tree"}).exit_code, 0);
  EXPECT_EQ(ReadTextFile("lists/real.lst"), section + section);
  struct stat info;
  ASSERT_EQ(stat("lists/real.lst", &info), 0);
  EXPECT_TRUE((info.st_mode & 07777) == 0640 && (!root || (info.st_uid == 12 && info.st_gid == 34)));
  EXPECT_TRUE(std::filesystem::is_symlink("link.lst") && std::filesystem::is_symlink("chain.lst"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("lists"), {}), 1);
}

}  // namespace
