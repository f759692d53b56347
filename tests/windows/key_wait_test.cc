// The closing key wait on Windows: the program runs on a pseudo console,
// and the test attaches to that console to watch its input mode and to
// write key events into its input buffer.
// The pseudo console is declared for Windows 10 1809 and later.
#define NTDDI_VERSION 0x0A000006
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

constexpr DWORD CookedInput = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;

KEY_EVENT_RECORD Key(WORD virtual_key, char character, BOOL down = TRUE) {
  KEY_EVENT_RECORD key = {};
  key.bKeyDown = down;
  key.wRepeatCount = 1;
  key.wVirtualKeyCode = virtual_key;
  key.uChar.AsciiChar = character;
  return key;
}

class ConsoleKeyWait : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteOneFileList("list.txt");
    ASSERT_TRUE(CreatePipe(&typed_read_, &typed_, nullptr, 0));
    ASSERT_TRUE(CreatePipe(&shown_, &shown_write_, nullptr, 0));
    COORD size = {80, 25};
    ASSERT_EQ(CreatePseudoConsole(size, typed_read_, shown_write_, 0, &console_), S_OK);
  }

  void TearDown() override {
    if (attached_) FreeConsole();
    AttachConsole(ATTACH_PARENT_PROCESS);
    if (process_.hProcess != nullptr) {
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
      }
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
    if (console_ != nullptr) ClosePseudoConsole(console_);
    for (HANDLE pipe : {typed_, typed_read_, shown_, shown_write_}) {
      if (pipe != nullptr) CloseHandle(pipe);
    }
  }

  // Runs "dorvane t list.txt" on the pseudo console; with standard input
  // given, that is the program's standard input instead of the console.
  void Start(HANDLE standard_input = nullptr, HANDLE standard_output = nullptr) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    ASSERT_TRUE(InitializeProcThreadAttributeList(attributes, 1, 0, &size));
    ASSERT_TRUE(UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE,
                                          console_, sizeof console_, nullptr, nullptr));
    STARTUPINFOEXA startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = attributes;
    if (standard_input != nullptr || standard_output != nullptr) {
      startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
      startup.StartupInfo.hStdInput = standard_input;
      startup.StartupInfo.hStdOutput = standard_output;
    }
    std::string command = std::string(DORVANE_BINARY) + " t list.txt";
    // Wine hands a child of a pseudo console its parent's standard output
    // and error, where Windows gives it the console's; the program waits
    // only where its prompt reaches the console. Without handles of the
    // parent's to hand on, the child gets the console's.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
    const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr,
                                        startup.StartupInfo.dwFlags != 0,
                                        EXTENDED_STARTUPINFO_PRESENT,
                                        nullptr, nullptr, &startup.StartupInfo, &process_);
    SetStdHandle(STD_OUTPUT_HANDLE, output);
    SetStdHandle(STD_ERROR_HANDLE, errors);
    DeleteProcThreadAttributeList(attributes);
    ASSERT_TRUE(started);
  }

  // Shares the program's console; returns its input.
  HANDLE Attach() {
    FreeConsole();
    for (int i = 0; i < 200 && !attached_; ++i) {
      attached_ = AttachConsole(process_.dwProcessId);
      if (!attached_) Sleep(50);
    }
    EXPECT_TRUE(attached_);
    return CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
  }

  // True once the console's input has no mode flag left: the key wait.
  static bool AwaitRawMode(HANDLE input) {
    DWORD mode = CookedInput;
    for (int i = 0; i < 400; ++i) {
      if (GetConsoleMode(input, &mode) && (mode & CookedInput) == 0) return true;
      Sleep(50);
    }
    return false;
  }

  static void Type(HANDLE input, const std::vector<KEY_EVENT_RECORD>& keys) {
    std::vector<INPUT_RECORD> records(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
      records[i].EventType = KEY_EVENT;
      records[i].Event.KeyEvent = keys[i];
    }
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleInputA(input, records.data(), static_cast<DWORD>(records.size()), &written));
    ASSERT_EQ(written, records.size());
  }

  bool Ended(DWORD wait_ms) {
    return WaitForSingleObject(process_.hProcess, wait_ms) == WAIT_OBJECT_0;
  }

  ScopedTempDir temp_;
  HPCON console_ = nullptr;
  HANDLE typed_ = nullptr, typed_read_ = nullptr, shown_ = nullptr, shown_write_ = nullptr;
  PROCESS_INFORMATION process_ = {};
  bool attached_ = false;
};

TEST_F(ConsoleKeyWait, ModifiersAloneDoNotEndTheWaitAndTheModeComesBack) {
  Start();
  HANDLE input = Attach();
  ASSERT_NE(input, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(AwaitRawMode(input));
  Type(input, {Key(VK_SHIFT, 0), Key(VK_CONTROL, 0), Key(VK_MENU, 0), Key(VK_CAPITAL, 0),
               Key(VK_NUMLOCK, 0), Key(VK_SCROLL, 0), Key(VK_LWIN, 0), Key(VK_RWIN, 0),
               Key('X', 'x', FALSE)});
  EXPECT_FALSE(Ended(500));
  // One key ends it; the next stays for whoever reads the console later.
  Type(input, {Key('X', 'x'), Key('Y', 'y')});
  ASSERT_TRUE(Ended(20000));
  DWORD exit_code = 99;
  GetExitCodeProcess(process_.hProcess, &exit_code);
  EXPECT_EQ(exit_code, 0u);
  DWORD pending = 0;
  EXPECT_TRUE(GetNumberOfConsoleInputEvents(input, &pending));
  EXPECT_EQ(pending, 1u);
  DWORD mode = 0;
  EXPECT_TRUE(GetConsoleMode(input, &mode));
  EXPECT_EQ(mode & CookedInput, CookedInput);
  CloseHandle(input);
}

TEST_F(ConsoleKeyWait, ArrowAndFunctionKeysEndTheWait) {
  for (WORD key : {VK_UP, VK_F5}) {
    Start();
    HANDLE input = Attach();
    ASSERT_TRUE(AwaitRawMode(input));
    Type(input, {Key(key, 0)});
    EXPECT_TRUE(Ended(20000)) << key;
    CloseHandle(input);
    FreeConsole();
    attached_ = false;
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = {};
  }
}

TEST_F(ConsoleKeyWait, AKeyTypedAheadEndsTheWait) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(typed_, "k", 1, &written, nullptr));
  Start();
  EXPECT_TRUE(Ended(20000));
}

// Standard input is a pipe full of lines; only the console's keys count.
TEST_F(ConsoleKeyWait, RedirectedStandardInputDoesNotEndTheWait) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE stdin_read = nullptr, stdin_write = nullptr;
  ASSERT_TRUE(CreatePipe(&stdin_read, &stdin_write, &inherit, 0));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(stdin_write, "x\r\ny\r\n", 6, &written, nullptr));
  Start(stdin_read);
  CloseHandle(stdin_read);
  HANDLE input = Attach();
  ASSERT_TRUE(AwaitRawMode(input));
  EXPECT_FALSE(Ended(500));
  Type(input, {Key('Q', 'q')});
  EXPECT_TRUE(Ended(20000));
  CloseHandle(input);
  CloseHandle(stdin_write);
}

// Standard output to a pipe: the prompt goes where nobody sees it on the
// console, so the run ends without a key.
TEST_F(ConsoleKeyWait, APromptSentToAPipeIsNotWaitedFor) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr;
  ASSERT_TRUE(CreatePipe(&out_read, &out_write, &inherit, 1 << 16));
  Start(nullptr, out_write);
  CloseHandle(out_write);
  EXPECT_TRUE(Ended(20000));
  char shown[4096];
  DWORD got = 0;
  ReadFile(out_read, shown, sizeof shown, &got, nullptr);
  EXPECT_NE(std::string(shown, got).find("press any key to continue..."), std::string::npos);
  CloseHandle(out_read);
}

}  // namespace
