// The built program on POSIX: its digests against coreutils md5sum.
#include <cctype>
#include <cstdio>
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

}  // namespace
