// What a person sees on a terminal: the progress line, the summary line
// that stays, and the switches that answer without a key wait; and nothing
// of it where standard error is no terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

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
  std::vector<std::string> screen;    // the lines the terminal shows at the end
  std::vector<std::string> progress;  // every status line drawn
  double first_progress = -1;         // seconds after the start
};

// Plays output on a terminal of Columns: carriage return, line feed, the
// erase to the line's end, and characters. Status lines are "\r TEXT ESC[K"
// without a line end after them; chunk_times gives each byte's arrival.
void Play(TerminalRun* run, const std::vector<std::pair<std::size_t, double>>& chunk_times) {
  std::vector<std::string>& lines = run->screen;
  lines.assign(1, "");
  std::size_t row = 0, column = 0, chunk = 0;
  const std::string& out = run->output;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r') {
      const std::size_t erase = out.find("\x1b[K", i);
      const std::size_t next = out.find_first_of("\r\n", i + 1);
      if (erase != std::string::npos && erase > i + 1 && erase < next &&
          out.compare(erase + 3, 2, "\r\n") != 0) {
        while (chunk + 1 < chunk_times.size() && chunk_times[chunk + 1].first <= i) ++chunk;
        if (run->progress.empty()) run->first_progress = chunk_times[chunk].second;
        run->progress.push_back(out.substr(i + 1, erase - i - 1));
      }
      column = 0;
    } else if (out[i] == '\n') {
      if (++row == lines.size()) lines.emplace_back();
    } else if (out.compare(i, 3, "\x1b[K") == 0) {
      lines[row].resize(std::min(lines[row].size(), column));
      i += 2;
    } else {
      if (lines[row].size() <= column) lines[row].resize(column + 1, ' ');
      lines[row][column++] = out[i];
    }
  }
}

// Runs the program on a new pseudo-terminal with the given environment
// additions; answers the key wait when answer is set.
TerminalRun RunOnTerminal(const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {}, bool answer = true) {
  winsize size = {24, Columns, 0, 0};
  int master = -1;
  const Clock::time_point start = Clock::now();
  const pid_t child = forkpty(&master, nullptr, nullptr, &size);
  if (child == 0) {
    std::vector<std::string> all{DORVANE_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (const std::string& pair : env) putenv(const_cast<char*>(pair.c_str()));
    execv(argv[0], argv.data());
    _exit(127);
  }
  termios settings;
  if (tcgetattr(master, &settings) == 0) {
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(master, TCSANOW, &settings);
  }
  TerminalRun run;
  std::vector<std::pair<std::size_t, double>> chunk_times;
  bool answered = false;
  for (;;) {
    pollfd wait = {master, POLLIN, 0};
    if (poll(&wait, 1, 60000) <= 0) break;
    char buffer[4096];
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    chunk_times.emplace_back(run.output.size(),
                             std::chrono::duration<double>(Clock::now() - start).count());
    run.output.append(buffer, static_cast<std::size_t>(got));
    if (answer && !answered && run.output.find(PromptText) != std::string::npos) {
      answered = write(master, "k", 1) == 1;
    }
  }
  int status = 0;
  if (waitpid(child, &status, 0) == child && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(master);
  Play(&run, chunk_times);
  return run;
}

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

// The screen of a run: the banner, then the lines of today's output (the
// key's newline leaves an empty last line) with the summary before the
// prompt.
void ExpectScreen(const TerminalRun& run, const std::vector<std::string>& report,
                  const std::string& summary_head) {
  std::vector<std::string> expected = {"Dorvane developers 2026 MD5 checksum generator", ""};
  expected.insert(expected.end(), report.begin(), report.end());
  expected.push_back(summary_head);
  expected.push_back(PromptText);
  expected.push_back("");
  ASSERT_EQ(run.screen.size(), expected.size()) << run.output;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (i + 3 == expected.size()) {
      EXPECT_TRUE(StartsWith(run.screen[i], summary_head)) << run.screen[i];
    } else {
      EXPECT_EQ(run.screen[i], expected[i]);
    }
  }
}

// Hard links to one sparse file of zeros, more of them until a run takes
// long enough to draw its progress a few times: the line must not come
// before a second, stay within the terminal's width, come at most ten
// times a second and be gone from the final screen.
TEST(StatusLine, ProgressComesAfterASecondStaysNarrowAndIsErased) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  WriteTextFile("tree/0", "");
  ASSERT_EQ(truncate("tree/0", 32 << 20), 0);
  int links = 1;
  for (int target : {32, 128, 512}) {
    for (; links < target; ++links) {
      ASSERT_EQ(link("tree/0", ("tree/" + std::to_string(links)).c_str()), 0);
    }
    SCOPED_TRACE(links);
    TerminalRun run = RunOnTerminal({"c", "list.lst", "tree"});
    EXPECT_EQ(run.exit_code, 0);
    ExpectScreen(run, {}, "listed " + std::to_string(links) + " files, 0 left out, ");
    for (const std::string& line : run.progress) EXPECT_LT(line.size(), Columns) << line;
    EXPECT_LE(run.progress.size(), 10 * run.seconds + 1);
    EXPECT_TRUE(run.progress.empty() || run.first_progress >= 1.0) << run.first_progress;
    if (run.progress.size() < 3) continue;
    ChangeDirectory("tree");
    run = RunOnTerminal({"t", "../list.lst"});
    ChangeDirectory("..");
    EXPECT_EQ(run.exit_code, 0);
    ExpectScreen(run, {}, "checked " + std::to_string(links) + " files, 0 failed, ");
    EXPECT_TRUE(run.progress.empty() || run.first_progress >= 1.0) << run.first_progress;
    for (const std::string& line : run.progress) {
      EXPECT_LT(line.size(), Columns) << line;
      EXPECT_NE(line.find("%, "), std::string::npos) << line;
    }
    return;
  }
  FAIL() << "no run lasted long enough to show its progress";
}

// Entries the walk leaves out: a file held by another program, a broken
// link, a FIFO and a name the list cannot hold; then a test with one file
// changed and one gone.
TEST(StatusLine, TheSummaryCountsWhatWasLeftOutAndWhatFailed) {
  ScopedTempDir temp;
  MakeDirectory("tree/sub");
  WriteTextFile("tree/a.txt", "abc");
  WriteTextFile("tree/b.txt", "abcd");
  WriteTextFile("tree/sub/c.txt", "ab");
  WriteTextFile("tree/held.txt", "held");
  WriteTextFile("tree/bad\x01name", "x");
  ASSERT_EQ(symlink("nowhere", "tree/broken"), 0);
  ASSERT_EQ(mkfifo("tree/fifo", 0600), 0);
  {
    HeldFile holder("tree/held.txt");
    ASSERT_TRUE(holder.held());
    const TerminalRun run = RunOnTerminal({"c", "list.lst", "tree"});
    EXPECT_EQ(run.exit_code, 0);
    ExpectScreen(run, {}, "listed 3 files, 4 left out, 9 B in ");
  }
  WriteTextFile("tree/b.txt", "abce");
  RemoveFile("tree/sub/c.txt");
  ChangeDirectory("tree");
  const TerminalRun run = RunOnTerminal({"t", "../list.lst"});
  EXPECT_EQ(run.exit_code, 2);
  ExpectScreen(run, {"errors:", ".\\b.txt", ".\\sub\\c.txt"}, "checked 3 files, 2 failed, 3 B in ");
}

// Never answered: the run must end by itself.
TEST(StatusLine, HelpAndVersionEndWithoutAKeyWait) {
  const std::string version = std::string("dorvane ") + DORVANE_VERSION + "\r\nMD5 kernel " +
                              ChooseMd5LaneKernel()->name;
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string head;
  } rows[] = {
      {{"--help"}, {}, "Syntax:\r\n"},
      {{"-h", "list.lst"}, {}, "Syntax:\r\n"},
      {{"--version"}, {}, version + ", " + std::to_string(DefaultThreadCount()) + " thread"},
      {{"-V"}, {"DORVANE_THREADS=4"}, version + ", 4 threads\r\n"},
      {{"-V"}, {"DORVANE_THREADS=65"}, version + ", 1 thread\r\n"},
  };
  for (const auto& row : rows) {
    const TerminalRun run = RunOnTerminal(row.args, row.env, false);
    EXPECT_EQ(run.exit_code, 0) << row.args[0];
    EXPECT_TRUE(StartsWith(run.output, row.head)) << run.output;
    EXPECT_EQ(run.output.find(PromptText), std::string::npos);
  }
}

// Standard output and error to one file, in a new session: the bytes of
// every run are those printed before the terminal lines existed.
TEST(StatusLine, NothingOfItReachesAFile) {
  ScopedTempDir temp;
  MakeDirectory("tree");
  WriteTextFile("tree/a.txt", "abc");
  const struct {
    std::vector<std::string> args;
    std::string output;
  } rows[] = {
      {{"c", "list.lst", "tree"}, Banner + Prompt},
      {{"t", "list.lst"}, Banner + "errors:\r\n.\\a.txt\r\n" + Prompt},
      {{"c", "list.lst", "missing"}, Banner + "invalid directory: missing\r\n" + Prompt},
  };
  for (const auto& row : rows) {
    WriteTextFile("out.txt", "");
    RunDorvaneWith(row.args, {.output = "out.txt", .errors = "out.txt"});
    EXPECT_EQ(ReadTextFile("out.txt"), row.output) << row.args[0];
  }
}

}  // namespace
