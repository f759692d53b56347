// The closing key wait, on a pseudo-terminal.
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

struct PtyRun {
  pid_t child = -1;
  int master = -1;
  std::string output;
};

// Starts the program on a new pseudo-terminal; input is written to it
// before the program runs when typed_ahead is given.
PtyRun StartOnTerminal(const std::string& typed_ahead) {
  PtyRun run;
  run.child = forkpty(&run.master, nullptr, nullptr, nullptr);
  if (run.child == 0) {
    // Wait until the parent has typed ahead, then run.
    char go;
    if (read(STDIN_FILENO, &go, 1) != 1) _exit(99);
    execl(DORVANE_BINARY, DORVANE_BINARY, "t", "list.txt", static_cast<char*>(nullptr));
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

int Finish(PtyRun* run) {
  int status = 0;
  waitpid(run->child, &status, 0);
  close(run->master);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(WaitForKey, WaitsForOneKeyAndTakesAnArrowKeyAsOne) {
  ScopedTempDir temp;
  WriteTextFile("list.txt", "");
  PtyRun run = StartOnTerminal("");
  ASSERT_TRUE(ReadUntil(&run, "press any key to continue...", 5000));
  // Nothing typed yet: the program is still waiting.
  EXPECT_FALSE(ReadUntil(&run, "continue...\r\n", 300));
  int status = 0;
  EXPECT_EQ(waitpid(run.child, &status, WNOHANG), 0);
  termios during;
  ASSERT_EQ(tcgetattr(run.master, &during), 0);
  EXPECT_EQ(during.c_lflag & (ECHO | ICANON | ISIG), 0u);

  ASSERT_EQ(write(run.master, "\x1b[A", 3), 3);
  EXPECT_TRUE(ReadUntil(&run, "continue...\r\n", 5000));
  termios after;
  ASSERT_EQ(tcgetattr(run.master, &after), 0);
  EXPECT_EQ(Finish(&run), 0);
  EXPECT_EQ(after.c_lflag & (ECHO | ICANON | ISIG), static_cast<tcflag_t>(ECHO | ICANON | ISIG));
}

TEST(WaitForKey, AKeyTypedAheadEndsTheWait) {
  ScopedTempDir temp;
  WriteTextFile("list.txt", "");
  PtyRun run = StartOnTerminal("k");
  EXPECT_TRUE(ReadUntil(&run, "continue...\r\n", 5000)) << run.output;
  EXPECT_EQ(Finish(&run), 0);
}

}  // namespace
