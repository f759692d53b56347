// What a person sees on a terminal: the progress line, the summary line
// that stays, and the switches that answer without a key wait; and nothing
// of it where standard error is no terminal.
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include <gtest/gtest.h>

#include "cli/thread_count.h"
#include "posix/limited_run.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned short Columns = 40;
constexpr char PromptText[] = "press any key to continue...";

struct TerminalRun {
  int exit_code = -1;
  double seconds = 0;
  std::string output;
  std::vector<std::string> screen{""};  // what the terminal shows at the end
  std::vector<std::string> progress;    // every status line drawn
  double first_progress = -1;           // when the first came, after the start
};

// Plays the output on a terminal: CR, LF, erase to the line's end and
// characters. A status line is "\r TEXT ESC[K" with no line end after it;
// times[k] is when the output from byte k on arrived.
void Play(TerminalRun* run, const std::vector<std::pair<std::size_t, double>>& times) {
  const std::string& out = run->output;
  std::size_t row = 0, column = 0, chunk = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    std::string& line = run->screen[row];
    const std::size_t erase = out.find("\x1b[K", i);
    if (out[i] == '\r' && erase > i + 1 && erase < out.find_first_of("\r\n", i + 1) &&
        out.compare(erase + 3, 2, "\r\n") != 0) {
      while (chunk + 1 < times.size() && times[chunk + 1].first <= i) ++chunk;
      if (run->progress.empty()) run->first_progress = times[chunk].second;
      run->progress.push_back(out.substr(i + 1, erase - i - 1));
    }
    if (out[i] == '\r') {
      column = 0;
    } else if (out[i] == '\n') {
      if (++row == run->screen.size()) run->screen.emplace_back();
    } else if (erase == i) {
      line.resize(std::min(line.size(), column));
      i += 2;
    } else {
      if (line.size() <= column) line.resize(column + 1, ' ');
      line[column++] = out[i];
    }
  }
}

// Runs the program on a new pseudo-terminal Columns wide, with env added to
// its environment; types a key at the prompt when answer is set.
TerminalRun RunOnTerminal(std::vector<std::string> args, const char* env = "", bool answer = true) {
  winsize size = {24, Columns, 0, 0};
  int master = -1;
  const Clock::time_point start = Clock::now();
  const pid_t child = forkpty(&master, nullptr, nullptr, &size);
  if (child == 0) {
    args.insert(args.begin(), DORVANE_BINARY);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (env[0] != '\0') putenv(const_cast<char*>(env));
    execv(argv[0], argv.data());
    _exit(127);
  }
  termios settings;  // the output as written, without CRs added
  tcgetattr(master, &settings);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tcsetattr(master, TCSANOW, &settings);
  TerminalRun run;
  std::vector<std::pair<std::size_t, double>> times;
  char buffer[4096];
  for (pollfd wait = {master, POLLIN, 0}; poll(&wait, 1, 60000) > 0;) {
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    times.emplace_back(run.output.size(), std::chrono::duration<double>(Clock::now() - start).count());
    run.output.append(buffer, static_cast<std::size_t>(got));
    // Typed once the wait has the terminal raw, so that it is not echoed.
    for (int i = 0; answer && run.output.find(PromptText) != std::string::npos && i < 500; ++i) {
      if (tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) == 0) {
        answer = write(master, "k", 1) != 1;
      } else {
        usleep(10000);
      }
    }
  }
  int status = 0;
  if (waitpid(child, &status, 0) == child && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(master);
  Play(&run, times);
  return run;
}

// The final screen with the summary line, before the prompt, cut to the
// length of its expected head (its bytes and time vary).
void ExpectScreen(const TerminalRun& run, const std::string& report, const std::string& head) {
  std::string screen;
  for (std::size_t i = 0; i < run.screen.size(); ++i) {
    screen += (i + 3 == run.screen.size() ? run.screen[i].substr(0, head.size()) : run.screen[i]) + "\n";
  }
  EXPECT_EQ(screen, "Dorvane developers 2026 MD5 checksum generator\n\n" + report + head + "\n" +
                        PromptText + "\n\n");
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
      EXPECT_EQ(run.exit_code, 0);
      ExpectScreen(run, "", (command[0] == 'c' ? "listed " : "checked ") + std::to_string(links) +
                                (command[0] == 'c' ? " files, 0 left out, " : " files, 0 failed, "));
      for (const std::string& line : run.progress) EXPECT_LT(line.size(), Columns) << line;
      EXPECT_LE(run.progress.size(), 10 * run.seconds + 1);
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
  for (const char* name : {"tree/abc", "tree/abcd", "tree/sub/ab", "tree/held", "tree/bad\x01"}) {
    WriteTextFile(name, std::string(name).substr(std::string(name).rfind('/') + 1));
  }
  ASSERT_EQ(symlink("nowhere", "tree/broken"), 0);
  ASSERT_EQ(mkfifo("tree/fifo", 0600), 0);
  auto holder = std::make_unique<HeldFile>("tree/held");
  ASSERT_TRUE(holder->held());
  TerminalRun run = RunOnTerminal({"c", "list.lst", "tree"});
  EXPECT_EQ(run.exit_code, 0);
  ExpectScreen(run, "", "listed 3 files, 4 left out, 9 B in ");
  WriteTextFile("tree/abcd", "abce");
  RemoveFile("tree/sub/ab");
  ChangeDirectory("tree");
  run = RunOnTerminal({"t", "../list.lst"});
  EXPECT_EQ(run.exit_code, 2);
  ExpectScreen(run, "errors:\n.\\abcd\n.\\sub\\ab\n", "checked 3 files, 2 failed, 3 B in ");
}

// Never answered: each run must end by itself.
TEST(StatusLine, HelpAndVersionEndWithoutAKeyWait) {
  const std::string version =
      std::string("dorvane ") + DORVANE_VERSION + "\r\nMD5 kernel " + ChooseMd5LaneKernel()->name + ", ";
  const struct {
    std::vector<std::string> args;
    const char* env;
    std::string output;
  } rows[] = {
      {{"--help"}, "", "Syntax:\r\n"},
      {{"-h", "list.lst"}, "", "Syntax:\r\n"},
      {{"--version"}, "", version + std::to_string(DefaultThreadCount()) + " thread"},
      {{"-V"}, "DORVANE_THREADS=4", version + "4 threads\r\n"},
      {{"-V"}, "DORVANE_THREADS=65", version + "1 thread\r\n"},
  };
  for (const auto& row : rows) {
    const TerminalRun run = RunOnTerminal(row.args, row.env, false);
    EXPECT_EQ(run.exit_code, 0) << row.args[0];
    EXPECT_EQ(run.output.substr(0, row.output.size()), row.output);
    EXPECT_EQ(run.output.find(PromptText), std::string::npos);
  }
}

// Standard output and error to one file, in a new session: the bytes are
// those of the runs before the terminal lines existed.
TEST(StatusLine, NothingOfItReachesAFile) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  WriteTextFile("tree/a", "abc");
  const struct {
    std::vector<std::string> args;
    std::string output;
  } rows[] = {
      {{"c", "list.lst", "tree"}, Banner + Prompt},
      {{"t", "list.lst"}, Banner + "errors:\r\n.\\a\r\n" + Prompt},
      {{"c", "list.lst", "missing"}, Banner + "invalid directory: missing\r\n" + Prompt},
  };
  for (const auto& row : rows) {
    WriteTextFile("out.txt", "");
    RunDorvaneWith(row.args, {.output = "out.txt", .errors = "out.txt"});
    EXPECT_EQ(ReadTextFile("out.txt"), row.output) << row.args[0];
  }
}

}  // namespace
