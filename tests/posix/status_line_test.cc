// What a person sees on a terminal: the progress line, the summary line,
// the switches that need no key; and nothing of it in a file.
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <algorithm>
#include <regex>

#include <gtest/gtest.h>

#include "digest/hash_queue.h"
#include "platform/process.h"
#include "posix/limited_run.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned short Columns = 40;
constexpr char PromptText[] = "press any key to continue...";

struct TerminalRun {
  int exit_code = -1;
  std::string output;
  std::vector<double> arrival;        // when each byte of output came
  std::vector<std::string> progress;  // every status line drawn
  double first_progress = -1;
  std::string rest;                   // the output without them
};

// Takes the status lines ("\r TEXT ESC[K" with no line end after it) and
// their erasures ("\r ESC[K") out of the output. A status line must be
// followed by another, an erasure or the summary, which start with "\r".
void TakeStatusLines(TerminalRun* run) {
  static const std::regex status("\r([^\r\n]*)\x1b\\[K(?!\r\n)");
  const std::string& out = run->output;
  std::size_t from = 0;
  for (std::sregex_iterator it(out.begin(), out.end(), status), end; it != end; ++it) {
    run->rest += out.substr(from, it->position() - from);
    from = it->position() + it->length();
    if (it->length(1) == 0) continue;
    if (run->progress.empty()) run->first_progress = run->arrival[it->position()];
    run->progress.push_back(it->str(1));
    EXPECT_EQ(out.substr(from, 1), "\r") << "left on the screen: " << it->str(1);
  }
  run->rest += out.substr(from);
}

// Runs the program on a new pseudo-terminal Columns wide, with env added to
// its environment; types a key at the prompt when answer is set, once the
// wait has the terminal raw (a key typed before would be echoed).
TerminalRun RunOnTerminal(std::vector<const char*> args, const char* env = "", bool answer = true) {
  winsize size = {24, Columns, 0, 0};
  int master = -1;
  const Clock::time_point start = Clock::now();
  const pid_t child = forkpty(&master, nullptr, nullptr, &size);
  if (child == 0) {
    // The output as written, without CRs added: set before the program
    // can write a byte.
    termios own;
    tcgetattr(STDOUT_FILENO, &own);
    own.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(STDOUT_FILENO, TCSANOW, &own);
    args.resize(3, nullptr);
    if (env[0] != '\0') putenv(const_cast<char*>(env));
    execl(DORVANE_BINARY, DORVANE_BINARY, args[0], args[1], args[2], nullptr);
    _exit(127);
  }
  termios settings;
  TerminalRun run;
  char buffer[4096];
  for (pollfd wait = {master, POLLIN, 0}; poll(&wait, 1, 60000) > 0;) {
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    run.output.append(buffer, static_cast<std::size_t>(got));
    run.arrival.resize(run.output.size(), std::chrono::duration<double>(Clock::now() - start).count());
    for (int i = 0; answer && run.output.find(PromptText) != std::string::npos && i < 500; ++i) {
      const bool raw = tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) == 0;
      answer = raw ? write(master, "k", 1) != 1 : usleep(10000) == 0;
    }
  }
  int status = 0;
  if (waitpid(child, &status, 0) == child && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  close(master);
  TakeStatusLines(&run);
  return run;
}

// Takes the messages of standard error ("dorvane: ..." lines) out of the
// rest of the output, sorted: their order follows the hashing's.
std::vector<std::string> TakeMessages(TerminalRun* run) {
  static const std::regex message("dorvane: [^\n]*\n");
  std::vector<std::string> found;
  for (std::sregex_iterator it(run->rest.begin(), run->rest.end(), message), end; it != end; ++it) {
    found.push_back(it->str());
  }
  run->rest = std::regex_replace(run->rest, message, "");
  std::sort(found.begin(), found.end());
  return found;
}

// The exit code and the output, up to the summary line's bytes and time.
void ExpectOutput(const TerminalRun& run, int exit_code, const std::string& report,
                  const std::string& head) {
  EXPECT_EQ(run.exit_code, exit_code);
  EXPECT_EQ(run.rest.substr(0, Banner.size() + report.size() + head.size() + 1), Banner + report + "\r" + head);
  const std::string tail = std::string("\x1b[K\r\n") + PromptText + "\r\n";
  EXPECT_EQ(run.rest.substr(run.rest.size() - std::min(run.rest.size(), tail.size())), tail);
}

// Hard links to a sparse file, more of them until a run lasts long enough
// to show its progress a few times: never before a second, within the
// width, at most ten times a second, and gone from the final screen.
TEST(StatusLine, ProgressComesAfterASecondStaysNarrowAndIsErased) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  WriteTextFile("tree/0", "");
  ASSERT_EQ(truncate("tree/0", 32 << 20), 0);
  ChangeDirectory("tree");
  int links = 1;
  for (int target : {32, 128, 512}) {
    for (; links < target; ++links) ASSERT_EQ(link("0", std::to_string(links).c_str()), 0);
    for (const char* command : {"c", "t"}) {
      SCOPED_TRACE(std::string(command) + std::to_string(links));
      const TerminalRun run = RunOnTerminal({command, "../list.lst", "."});
      const char* head = command[0] == 'c' ? "listed " : "checked ";
      ExpectOutput(run, 0, "", head + std::to_string(links) + " files, 0 ");
      for (const std::string& line : run.progress) EXPECT_LT(line.size(), Columns) << line;
      EXPECT_LE(run.progress.size(), 10 * run.arrival.back() + 1);
      EXPECT_TRUE(run.progress.empty() || run.first_progress >= 1.0) << run.first_progress;
      if (command[0] == 't' && run.progress.size() >= 3) return;
    }
  }
  FAIL() << "no run lasted long enough to show its progress";
}

// A file another program holds, a broken link, a FIFO and a name no list
// can hold are left out; then one file changed and one gone fail.
TEST(StatusLine, TheSummaryCountsWhatWasLeftOutAndWhatFailed) {
  ScopedTempDir temp;
  MakeDirectory("tree/sub");
  for (const std::string name : {"tree/abc", "tree/abcd", "tree/sub/ab", "tree/held", "tree/bad\x01"})
    WriteTextFile(name, name.substr(name.rfind('/') + 1));
  ASSERT_EQ(symlink("nowhere", "tree/broken"), 0);
  ASSERT_EQ(mkfifo("tree/fifo", 0600), 0);
  const HeldFile holder("tree/held");
  ASSERT_TRUE(holder.held());
  TerminalRun run = RunOnTerminal({"c", "list.lst", "tree"});
  EXPECT_EQ(TakeMessages(&run), (std::vector<std::string>{
      "dorvane: left out .\\bad\\x01: its name holds a control byte, which a list cannot carry\n",
      "dorvane: left out .\\broken: a broken symbolic link\n",
      "dorvane: left out .\\fifo: a FIFO\n",
      "dorvane: left out .\\held: cannot be opened: locked by another program\n"}));
  ExpectOutput(run, 0, "", "listed 3 files, 4 left out, 9 B in ");
  WriteTextFile("tree/abcd", "abce");
  RemoveFile("tree/sub/ab");
  ChangeDirectory("tree");
  ExpectOutput(RunOnTerminal({"t", "../list.lst"}), 2, "errors:\r\n.\\abcd\r\n.\\sub\\ab\r\n",
               "checked 3 files, 2 failed, 3 B in ");
}

// Never answered, each run must end by itself; then a new session with
// standard output and error to one file gets the bytes of old.
TEST(StatusLine, HelpAndVersionEndWithoutAKeyWaitAndAFileGetsNothingNew) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  WriteTextFile("tree/a", "abc");
  const std::string version =
      std::string("dorvane ") + DORVANE_VERSION + "\r\nMD5 kernel " + ChooseMd5LaneKernel()->name + ", ";
  const struct { std::vector<const char*> args; const char* env; std::string output; } rows[] = {
      {{"--help"}, "", "Syntax:\r\n"},
      {{"--version"}, "", version + std::to_string(ChooseHashPlan().threads) + " thread"},
      {{"-V"}, "DORVANE_THREADS=4", version + "4 threads\r\n"},
      // Out of range: the processors this process may use.
      {{"-V"}, "DORVANE_THREADS=65", version + std::to_string(CountUsableProcessors()) + " thread"},
  };
  for (const auto& row : rows) {
    const TerminalRun run = RunOnTerminal(row.args, row.env, false);
    EXPECT_EQ(run.exit_code, 0) << row.args[0];
    EXPECT_EQ(run.output.substr(0, row.output.size()), row.output);
    EXPECT_EQ(run.output.find(PromptText), std::string::npos);
  }
  // Standard error is a file too: it gets only the hint that the test
  // runs in another directory than the list was made in.
  for (const char* command : {"c", "t"}) {
    WriteTextFile("out.txt", "");
    WriteTextFile("errors.txt", "");
    RunDorvaneWith({command, "list.lst", "tree"}, {.output = "out.txt", .errors = "errors.txt"});
    EXPECT_EQ(ReadTextFile("out.txt"), Banner + (command[0] == 't' ? "errors:\r\n.\\a\r\n" : "") + Prompt);
    const std::string errors = ReadTextFile("errors.txt");
    EXPECT_TRUE(command[0] == 't' ? errors.rfind("dorvane: 1 of 1 listed files are missing", 0) == 0
                                  : errors.empty()) << errors;
  }
}

}  // namespace
