// Test helpers the Windows way: a unique directory under GetTempPathA,
// share mode 0, and CreateProcessW without a console.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

// The program lies beside the test executable.
std::string ProgramPath() {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return DORVANE_BINARY;
  std::string path(self, length);
  return path.substr(0, path.find_last_of("\\/") + 1) + DORVANE_BINARY;
}

// Quotes one argument so that the runtime's command line splitting gives it
// back unchanged: backslashes count only in front of a double quote.
std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

HANDLE OpenNul() {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inherit, OPEN_EXISTING, 0, nullptr);
}

// A pipe ends when ReadFile fails (the writer is gone); a read of no
// bytes is only a write of no bytes.
std::string ReadAll(HANDLE pipe) {
  std::string output;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr)) {
    output.append(buffer, got);
  }
  return output;
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(),
                                  static_cast<int>(wide.size())) - 1);
  return wide;
}

}  // namespace

std::filesystem::path NativePath(const std::string& name) { return Wide(name); }

std::filesystem::path ExactPath(const std::string& name) {
  std::wstring path = L"\\\\?\\" + std::filesystem::current_path().wstring() + L"\\" + Wide(name);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

bool LegacyCodePageIsWindows1252() { return GetACP() == 1252; }

ScopedTempDir::ScopedTempDir() {
  previous_ = std::filesystem::current_path().string();
  char temp[MAX_PATH];
  const DWORD length = GetTempPathA(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) std::abort();
  for (unsigned attempt = 0;; ++attempt) {
    path_ = std::string(temp) + "dorvane-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(attempt);
    if (CreateDirectoryA(path_.c_str(), nullptr)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS) std::abort();
  }
  std::filesystem::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() {
  std::filesystem::current_path(previous_);
  // rd by the "\\?\" form first: on a name with a closing dot or space
  // remove_all never ends. Wine's rd leaves CJK names, which it takes.
  _wsystem((L"rd /s /q \"\\\\?\\" + Wide(path_) + L"\"").c_str());
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

HeldFile::HeldFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  holder_ = reinterpret_cast<std::intptr_t>(file);
  held_ = file != INVALID_HANDLE_VALUE;
}

HeldFile::~HeldFile() {
  if (held_) CloseHandle(reinterpret_cast<HANDLE>(holder_));
}

// A detached process has no console, so it cannot open CONIN$.
RunResult RunDorvane(const std::vector<std::string>& arguments) {
  const std::string program = ProgramPath();
  std::string command_line = QuoteArgument(program);
  for (const std::string& argument : arguments) {
    command_line += ' ';
    command_line += QuoteArgument(argument);
  }

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return {-1, ""};
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = OpenNul();

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = write_end;
  startup.hStdError = nul;
  PROCESS_INFORMATION process = {};
  std::wstring line = Wide(command_line);
  const BOOL started = CreateProcessW(Wide(program).c_str(), line.data(), nullptr, nullptr, TRUE,
                                      DETACHED_PROCESS, nullptr, nullptr, &startup, &process);
  CloseHandle(write_end);
  CloseHandle(nul);
  RunResult result{-1, ""};
  if (started) {
    result.output = ReadAll(read_end);
    DWORD exit_code = 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    if (GetExitCodeProcess(process.hProcess, &exit_code)) {
      result.exit_code = static_cast<int>(exit_code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(read_end);
  return result;
}

void DropCachedPages(const std::string&) {}
