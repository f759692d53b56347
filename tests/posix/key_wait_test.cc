// The closing key wait, on a pseudo-terminal.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "faults/list_check.h"
#include "test_util.h"

namespace {

constexpr tcflag_t CookedFlags = ECHO | ICANON | ISIG;

// Runs the program, then reports its exit code and the rest of the line
// left in the terminal, which the test ends with "\n" once it has looked at
// the terminal's mode.
constexpr char ThenReadWhatIsLeft[] =
    R"("$0" t list.txt; echo "exit=$?"; IFS= read -r left; printf 'left=[%s]\n' "$left")";

struct PtyRun {
  ~PtyRun() { close(master); }
  pid_t child = -1;
  int master = -1;
  std::string output;
};

// Starts "dorvane t list.txt" on a new pseudo-terminal, through the shell
// command above when through_shell; typed_ahead is written to the terminal
// before the program runs.
PtyRun StartOnTerminal(const std::string& typed_ahead, bool through_shell,
                       const char* command = ThenReadWhatIsLeft) {
  PtyRun run;
  run.child = forkpty(&run.master, nullptr, nullptr, nullptr);
  if (run.child == 0) {
    // Wait until the parent has typed ahead, then run.
    char go;
    if (read(STDIN_FILENO, &go, 1) != 1) _exit(99);
    if (through_shell) {
      execl("/bin/sh", "sh", "-c", command, DORVANE_BINARY, static_cast<char*>(nullptr));
    } else {
      execl(DORVANE_BINARY, DORVANE_BINARY, "t", "list.txt", static_cast<char*>(nullptr));
    }
    _exit(98);
  }
  // Output as the program writes it, without the terminal's CR insertion.
  termios settings;
  if (tcgetattr(run.master, &settings) == 0) {
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(run.master, TCSANOW, &settings);
  }
  const std::string start = "\n" + typed_ahead;
  EXPECT_EQ(write(run.master, start.data(), start.size()), static_cast<ssize_t>(start.size()));
  return run;
}

// Reads output until it contains text or timeout_ms pass without output.
bool ReadUntil(PtyRun* run, const std::string& text, int timeout_ms) {
  while (run->output.find(text) == std::string::npos) {
    pollfd wait = {run->master, POLLIN, 0};
    if (poll(&wait, 1, timeout_ms) <= 0) return false;
    char buffer[256];
    const ssize_t got = read(run->master, buffer, sizeof buffer);
    if (got <= 0) return false;
    run->output.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

tcflag_t CookedFlagsOf(int terminal) {
  termios settings;
  return tcgetattr(terminal, &settings) == 0 ? settings.c_lflag & CookedFlags : 0xFFFF;
}

// True once the program has set the terminal raw for its wait.
bool AwaitRawMode(int terminal) {
  for (int i = 0; i < 500 && CookedFlagsOf(terminal) != 0; ++i) usleep(10000);
  return CookedFlagsOf(terminal) == 0;
}

// Waits for the child; its exit code, or 1000 + the signal that ended it.
int Finish(PtyRun* run) {
  int status = 0;
  waitpid(run->child, &status, 0);
  if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Until the key the program waits with the terminal raw; one key press, of
// however many bytes, ends the wait and is taken whole, and the mode comes
// back. Keys typed ahead end the wait at once, and only one is taken.
TEST(WaitForKey, OneKeyPressEndsTheWaitAndIsTakenWhole) {
  const struct {
    const char* name;
    const char* typed_ahead;
    const char* key;
    const char* left;
  } rows[] = {
      {"arrow key", "", "\x1b[A", ""},
      {"function key, SS3 form", "", "\x1bOP", ""},
      {"editing key with a number", "", "\x1b[15~", ""},
      {"Escape alone", "", "\x1b", ""},
      {"Ctrl+C", "", "\x03", ""},
      {"two-byte character", "", "\xc3\xa9", ""},
      {"three-byte character", "", "\xe2\x82\xac", ""},
      {"typed ahead", "kz", "", "z"},
      {"arrow key typed ahead", "\x1b[Bz", "", "z"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScopedTempDir temp;
    WriteOneFileList("list.txt");
    PtyRun run = StartOnTerminal(row.typed_ahead, true);
    ASSERT_TRUE(ReadUntil(&run, "press any key to continue...", 5000)) << run.output;
    if (row.typed_ahead[0] == '\0') {
      ASSERT_TRUE(AwaitRawMode(run.master));
      EXPECT_FALSE(ReadUntil(&run, "continue...\r\n", 300));
      const std::string key = row.key;
      ASSERT_EQ(write(run.master, key.data(), key.size()), static_cast<ssize_t>(key.size()));
    }
    EXPECT_TRUE(ReadUntil(&run, "continue...\r\nexit=0\n", 5000)) << run.output;
    EXPECT_EQ(CookedFlagsOf(run.master), CookedFlags);
    ASSERT_EQ(write(run.master, "\n", 1), 1);
    EXPECT_TRUE(ReadUntil(&run, "left=[" + std::string(row.left) + "]\n", 5000)) << run.output;
    EXPECT_EQ(Finish(&run), 0);
  }
}

// A signal that ends the program during the wait ends it as the signal
// would, and leaves the terminal as the program found it.
TEST(WaitForKey, ASignalDuringTheWaitLeavesTheTerminalAsItWas) {
  for (int signal_number : {SIGTERM, SIGHUP, SIGINT, SIGALRM, SIGUSR1}) {
    SCOPED_TRACE(strsignal(signal_number));
    ScopedTempDir temp;
    WriteOneFileList("list.txt");
    PtyRun run = StartOnTerminal("", false);
    ASSERT_TRUE(AwaitRawMode(run.master)) << run.output;
    ASSERT_EQ(kill(run.child, signal_number), 0);
    EXPECT_EQ(Finish(&run), 1000 + signal_number);
    EXPECT_EQ(CookedFlagsOf(run.master), CookedFlags);
  }
}

// On the terminal, but with the prompt sent to a file or a pipe, or only
// standard error left on the terminal: nobody sees the prompt, so the run
// ends without a key.
TEST(WaitForKey, APromptNobodySeesIsNotWaitedFor) {
  for (const char* command : {R"("$0" t list.txt >out.txt; echo "exit=$?")",
                              R"("$0" t list.txt | cat >out.txt; echo "exit=$?")",
                              R"("$0" t list.txt 2>&1 >out.txt </dev/null; echo "exit=$?")"}) {
    SCOPED_TRACE(command);
    ScopedTempDir temp;
    WriteOneFileList("list.txt");
    PtyRun run = StartOnTerminal("", true, command);
    EXPECT_TRUE(ReadUntil(&run, "exit=0", 5000)) << run.output;
    EXPECT_EQ(Finish(&run), 0);
    // The prompt is written all the same.
    EXPECT_EQ(ReadTextFile("out.txt"), CleanTestOutput());
  }
}

// Started as "dorvane c l.txt dir &" in an interactive shell, the program
// is a background job, not at the console: it ends without waiting instead
// of being stopped by the terminal. script gives the shell a terminal.
TEST(WaitForKey, ABackgroundJobOfAnInteractiveShellEndsWithoutWaiting) {
  ScopedTempDir temp;
  MakeDirectory("dir");
  WriteTextFile("dir/f", "abc");
  WriteTextFile("job.sh", std::string("'") + DORVANE_BINARY +
                              "' c l.txt dir & wait $!; echo \"exit=$?\"\n");
  FILE* run = popen("ENV= SHELL=/bin/sh timeout 60 script -qec 'sh -i job.sh' /dev/null </dev/null", "r");
  ASSERT_NE(run, nullptr);
  std::string output;
  char buffer[256];
  for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, run)) > 0;) output.append(buffer, got);
  pclose(run);
  EXPECT_NE(output.find("press any key to continue..."), std::string::npos) << output;
  EXPECT_NE(output.find("exit=0"), std::string::npos) << output;
  EXPECT_EQ(ListFault(ReadTextFile("l.txt")), "");
  EXPECT_EQ(ListedFiles(ReadTextFile("l.txt")).size(), 1u);
}

}  // namespace
