// Create, then test, with the built program.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

TEST(RoundTrip, ReportsExactlyTheChangedAndDeletedFiles) {
  ScopedTempDir temp;
  MakeDirectory("tree/sub/deeper");
  for (const char* name : {"tree/a.txt", "tree/b c.txt", "tree/sub/abc.txt", "tree/sub/keep",
                           "tree/sub/deeper/12"}) {
    WriteTextFile(name, std::string(name) + PatternBytes(9000));
  }
  ASSERT_EQ(RunDorvane({"c", "list.txt", "tree"}).exit_code, 0);
  ChangeDirectory("tree");
  RunResult run = RunDorvane({"t", "../list.txt"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, Banner + Prompt);

  WriteTextFile("sub/abc.txt", "changed");
  RemoveFile("b c.txt");
  run = RunDorvane({"t", "../list.txt"});
  EXPECT_EQ(run.exit_code, 2);
  // Reported in the list's order, which is the walk's; compare as a set.
  const std::string head = Banner + "errors:\r\n";
  ASSERT_EQ(run.output.substr(0, head.size()), head);
  std::string body = run.output.substr(head.size());
  for (const char* path : {".\\b c.txt\r\n", ".\\sub\\abc.txt\r\n"}) {
    const std::size_t at = body.find(path);
    ASSERT_NE(at, std::string::npos) << path;
    body.erase(at, std::string(path).size());
  }
  EXPECT_EQ(body, Prompt);
}

// A file another program holds cannot be hashed: a new list leaves it out
// and a test reports it, until it is let go.
TEST(RoundTrip, AFileHeldByAnotherProgramIsLeftOutAndReportedWhileHeld) {
  ScopedTempDir temp;
  MakeDirectory("tree/sub");
  WriteTextFile("tree/a.txt", "abc");
  WriteTextFile("tree/sub/held", "abc");
  auto holder = std::make_unique<HeldFile>("tree/sub/held");
  ASSERT_TRUE(holder->held());
  EXPECT_EQ(HashText("tree\\sub\\held"), "failed:");
  ASSERT_EQ(RunDorvane({"c", "list.txt", "tree"}).exit_code, 0);
  EXPECT_EQ(ReadTextFile("list.txt").find("\"held\""), std::string::npos);
  EXPECT_NE(ReadTextFile("list.txt").find("a.txt"), std::string::npos);
  holder.reset();
  EXPECT_EQ(HashText("tree\\sub\\held"), Abc);

  ASSERT_EQ(RunDorvane({"c", "list.txt", "tree"}).exit_code, 0);
  ChangeDirectory("tree");
  holder = std::make_unique<HeldFile>("sub/held");
  ASSERT_TRUE(holder->held());
  EXPECT_EQ(RunDorvane({"t", "../list.txt"}).output,
            Banner + "errors:\r\n.\\sub\\held\r\n" + Prompt);
  holder.reset();
  EXPECT_EQ(RunDorvane({"t", "../list.txt"}).output, CleanTestOutput());
}

TEST(RoundTrip, AnOverflowingReportEndsWithACompletePath) {
  ScopedTempDir temp;
  std::string list = "DIR:  \".\\missing-directory\\\"\r\n";
  for (int i = 0; i < 1000; ++i) {
    list += "FILE: 900150983CD24FB0D6963F7D28E17F72  3  \"file" + std::to_string(i) + "\"\r\n";
  }
  WriteTextFile("list.txt", list);
  const RunResult run = RunDorvane({"t", "list.txt"});
  EXPECT_EQ(run.exit_code, 2);
  // Paths of 24 to 26 characters: entries stored while length + 1 < room.
  std::size_t room = 10240;
  std::string expected = Banner + "errors:\r\n";
  for (int i = 0;; ++i) {
    const std::string path = ".\\missing-directory\\file" + std::to_string(i);
    if (path.size() + 1 >= room) break;
    room -= path.size() + 1;
    expected += path + "\r\n";
  }
  EXPECT_EQ(run.output, expected + "... and some others...\r\n" + Prompt);
}

TEST(RoundTrip, AppendedSectionsAreVerifiedSectionBySection) {
  ScopedTempDir temp;
  MakeDirectory("one/same");
  MakeDirectory("two/same");
  WriteTextFile("one/same/f", "abc");
  WriteTextFile("two/same/f", "abc");
  WriteTextFile("two/only-two", "xyz");
  ASSERT_EQ(RunDorvane({"c", "list.txt", "one"}).exit_code, 0);
  ASSERT_EQ(RunDorvane({"a", "list.txt", "two"}).exit_code, 0);
  ChangeDirectory("one");
  // From one/, the second section's only-two cannot be found.
  EXPECT_EQ(RunDorvane({"t", "../list.txt"}).output,
            Banner + "errors:\r\n.\\only-two\r\n" + Prompt);
}

}  // namespace
