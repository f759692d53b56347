// What a person sees on a terminal: the progress line, the summary line,
// the switches that need no key; and nothing of it in a file.
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <regex>

#include <gtest/gtest.h>

#include "cli/progress.h"
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
  std::vector<std::size_t> drawn_at;  // where each is in the output
  std::size_t narrowed_at = std::string::npos;  // the output when narrowed
  double first_progress = -1;
  std::string rest;                   // the output without them
};

// Takes the status lines ("\r TEXT ESC[J \r", no line end after it) and
// their erasures ("\r ESC[J \r") out of the output: each erases from the
// line's start down, where a narrowed terminal rewraps it, and leaves the
// cursor there. A status line must be followed by another, an erasure or
// the summary, which start with "\r".
void TakeStatusLines(TerminalRun* run) {
  static const std::regex status("\r([^\r\n]*)\x1b\\[J\r(?!\n)");
  const std::string& out = run->output;
  std::size_t from = 0;
  for (std::sregex_iterator it(out.begin(), out.end(), status), end; it != end; ++it) {
    run->rest += out.substr(from, it->position() - from);
    from = it->position() + it->length();
    if (it->length(1) == 0) continue;
    if (run->progress.empty()) run->first_progress = run->arrival[it->position()];
    run->progress.push_back(it->str(1));
    run->drawn_at.push_back(it->position());
    EXPECT_EQ(out.substr(from, 1), "\r") << "left on the screen: " << it->str(1);
  }
  run->rest += out.substr(from);
}

// Runs the program on a new pseudo-terminal Columns wide, with env added to
// its environment; types a key at the prompt when answer is set, once the
// wait has the terminal raw (a key typed before would be echoed). With
// narrow, the terminal is made that wide once three lines were drawn.
TerminalRun RunOnTerminal(std::vector<const char*> args, const char* env = "", bool answer = true,
                          unsigned short narrow = 0) {
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
    static const std::regex drawn("\x1b\\[J\r");
    if (narrow != 0 && run.narrowed_at == std::string::npos &&
        std::distance(std::sregex_iterator(run.output.begin(), run.output.end(), drawn), {}) >= 3) {
      size.ws_col = narrow;
      EXPECT_EQ(ioctl(master, TIOCSWINSZ, &size), 0);
      run.narrowed_at = run.output.size();
    }
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
  const std::string tail = std::string("\x1b[J\r\n") + PromptText + "\r\n";
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

// A small file, then a large sparse one, larger until its reading shows
// the line often enough: while it is read, with workers or on the
// program's own thread, the bytes grow, and the test's share by bytes too
// (its list is read at once); a terminal narrowed meanwhile gets lines and
// a summary that fit it. The large file's directory is named with a C1
// control (as UTF-8 and as a byte alone) and a right-to-left override:
// the line shows them as escapes, and none reaches the terminal.
TEST(StatusLine, TheLineMovesWhileALargeFileIsReadAndFitsANarrowedTerminal) {
  constexpr unsigned short Narrow = 30;
  const std::string sub = "s\xC2\x9B\xE2\x80\xAE\x9B";
  ScopedTempDir temp;
  MakeDirectory("tree/" + sub);
  WriteTextFile("tree/a", "abc");
  WriteTextFile("tree/" + sub + "/huge", "");
  ChangeDirectory("tree");
  bool enough = false;
  for (off_t size = off_t{128} << 20; !enough && size <= off_t{8} << 30; size *= 2) {
    ASSERT_EQ(truncate((sub + "/huge").c_str(), size), 0);
    enough = true;
    for (int row = 0; enough && row < 4; ++row) {
      const char* command = row % 2 == 0 ? "c" : "t";
      const char* env = row < 2 ? "" : "DORVANE_THREADS=1";
      SCOPED_TRACE(std::string(command) + " " + env + " " + std::to_string(size));
      const TerminalRun run = RunOnTerminal({command, "../list.lst", "."}, env, true, Narrow);
      ExpectOutput(run, 0, "", command[0] == 'c' ? "listed 2 files, 0 left out" : "checked 2 files, 0 failed");
      const std::string summary = run.rest.substr(Banner.size() + 1, run.rest.find('\x1b') - Banner.size() - 1);
      enough = run.progress.size() >= 6;
      EXPECT_EQ(run.output.find_first_of("\x9B\xAE"), std::string::npos);
      EXPECT_LT(summary.size(), enough ? Narrow : Columns) << summary;
      // The last line may come after the large file was counted.
      std::vector<double> bytes, shares;
      for (std::size_t i = 0; enough && i + 1 < run.progress.size(); ++i) {
        const std::string& line = run.progress[i];
        EXPECT_NE(line.find("1 file, "), std::string::npos) << line;
        EXPECT_TRUE(i == 0 || run.drawn_at[i - 1] < run.narrowed_at || line.size() < Narrow) << line;
        if (run.drawn_at[i] >= run.narrowed_at) continue;
        double count = -1;
        char unit = 'B';
        std::sscanf(line.c_str() + line.find("1 file, ") + 8, "%lf %c", &count, &unit);
        bytes.push_back(count * std::pow(1000.0, static_cast<double>(std::string("BkMGT").find(unit))));
        shares.push_back(command[0] == 't' ? std::stod(line) : 0);
      }
      if (!enough) continue;
      ASSERT_GE(bytes.size(), 3u);
      EXPECT_TRUE(std::is_sorted(bytes.begin(), bytes.end()) && bytes.front() < bytes.back());
      EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()) && (command[0] == 'c' || shares.front() < shares.back()));
    }
  }
  EXPECT_TRUE(enough) << "no run lasted long enough to show its progress";
}

// A message during a run: on a terminal the line shown is erased before
// it and drawn again at the next count; elsewhere the messages alone. The
// line's directory, named with a C0 and a C1 control (as UTF-8 and as a
// byte alone), a right-to-left override and a zero-width space, shows them
// as escapes and its other characters as they are.
TEST(StatusLine, AMessageErasesTheLineWhichComesBackAfterIt) {
  const std::string line = "\r(1 file, 3|2 files, 6) B, [^\r]*\x1b\\[J\r\r\x1b\\[J\r";
  for (const bool terminal : {true, false}) {
    int fds[2] = {-1, -1};
    ASSERT_EQ(terminal ? 0 : pipe(fds), 0);
    const pid_t child = terminal ? forkpty(&fds[0], nullptr, nullptr, nullptr) : fork();
    if (child == 0) {
      // On the terminal as written, without CRs added.
      termios own;
      if (terminal && tcgetattr(STDERR_FILENO, &own) == 0) own.c_oflag &= ~static_cast<tcflag_t>(OPOST);
      if (terminal ? tcsetattr(STDERR_FILENO, TCSANOW, &own) != 0 : dup2(fds[1], STDERR_FILENO) < 0) _exit(1);
      Progress progress;
      StartProgress(&progress, false);
      CountDirectory(ProgressCounts(&progress), ".\\\xC3\xA9\x1B[\xC2\x9B\x9B\xE2\x80\xAE\xE2\x80\x8B\\");
      for (const char* text : {"dorvane: first", "dorvane: second"}) {
        progress.next_draw = Clock::now();
        CountFile(ProgressCounts(&progress), 3);
        ShowProgressMessage(&progress, text);
      }
      _exit(0);
    }
    if (!terminal) close(fds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, got);
    close(fds[0]);
    waitpid(child, nullptr, 0);
    const std::string messages = terminal ? line + "dorvane: first\n" + line : "dorvane: first\n";
    EXPECT_TRUE(std::regex_match(output, std::regex(messages + "dorvane: second\n"))) << output;
    EXPECT_EQ(output.find("\x9B"), std::string::npos);
    EXPECT_TRUE(!terminal || output.find("  .\\\xC3\xA9\\x1B[\\xC2\\x9B\\x9B\\xE2\\x80\\xAE\\xE2\\x80\\x8B\\\x1b[J") !=
                                 std::string::npos) << output;
  }
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
  ExpectOutput(RunOnTerminal({"c", "list.lst", "tree/sub"}), 0, "", "listed 1 file, 0 left out, 2 B in ");
  // A storage named for the run is told after the summary, cut to the width.
  const TerminalRun named = RunOnTerminal({"c", "list.lst", "tree/sub"}, "DORVANE_STORAGE=solid");
  EXPECT_NE(named.rest.find("\x1b[J\r\n\rstorage: solid (DORVANE_STORAGE)\x1b[J\r\n"),
            std::string::npos) << named.rest;
  TerminalRun run = RunOnTerminal({"c", "list.lst", "tree"});
  EXPECT_EQ(TakeMessages(&run), (std::vector<std::string>{
      "dorvane: left out .\\bad\\x01: its name holds a control byte, which a list cannot carry\n",
      "dorvane: left out .\\broken: a broken symbolic link\n",
      "dorvane: left out .\\fifo: a FIFO\n",
      "dorvane: left out .\\held: cannot be opened: locked by another program\n"}));
  ExpectOutput(run, 0, "", "listed 3 files, 4 left out, 9 B");
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
