// Program entry: banner, arguments, mode, list file, closing prompt.
#include <chrono>
#include <cstring>
#include <exception>
#include <new>
#include <thread>

#include "cli/driver.h"
#include "listing/run_counts.h"
#include "platform/console.h"
#include "platform/describe.h"
#include "platform/new_version.h"
#include "platform/process.h"
#include "platform/win32.h"

namespace {

// Asked for by name, help and the version go to standard output alone,
// without the banner or the key wait, for people and scripts alike.
int PrintHelp() {
  PrintUsageText();
  PrintOptionsText();
  ConsolePrint("StartDir is the directory that c and a list. t takes FileName alone and\n"
               "looks for the listed files below the directory it is run in: run it\n"
               "from the directory the list was made from.\n\n");
  ConsolePrint("%s\n", ManualLocation());
  return ExitClean;
}

int PrintVersion() {
  const HashPlan plan = ChooseHashPlan();
  ConsolePrint("dorvane %s\n", DORVANE_VERSION);
  ConsolePrint("MD5 kernel %s, %u thread%s\n", plan.kernel->name, plan.threads,
               plan.threads == 1 ? "" : "s");
  return ExitClean;
}

// The system's reason for a failure with a name the user gave, on
// standard error beside the message on standard output.
void TellWhy(const char* what, const char* name, DWORD error) {
  char shown[LineBufferSize];
  char reason[ErrorTextSize];
  PathForPeople(name, shown, sizeof shown);
  DescribeError(error, reason, sizeof reason);
  ConsoleWarn("dorvane: %s %s: %s\n", what, shown, reason);
}

// The list: the test's to read, or the new version create and append
// write. An open that fails for lack of handles is tried again for a
// while, as the hashing's are: another program may free one.
HANDLE OpenTheList(RunMode mode, const char* name, NewVersion** new_list) {
  const auto since = std::chrono::steady_clock::now();
  for (;;) {
    if (mode == ModeTest) {
      const HANDLE file = OpenListFile(name);
      if (file != INVALID_HANDLE_VALUE) return file;
    } else {
      *new_list = StartNewVersion(name);
      if (*new_list != nullptr) return NewVersionFile(*new_list);
    }
    if (GetLastError() != ERROR_TOO_MANY_OPEN_FILES ||
        std::chrono::steady_clock::now() - since >= HandleWaitLimit) {
      return INVALID_HANDLE_VALUE;
    }
    std::this_thread::sleep_for(HandleRetryInterval);
  }
}

// The audit's report, written anew; INVALID_HANDLE_VALUE for standard
// output, or after a failure (*failed). Held without sharing, so that it
// can never be the list, which is held so already.
HANDLE OpenTheReport(const char* name, HANDLE list_file, bool* failed) {
  *failed = false;
  if (std::strcmp(name, "-") == 0) return INVALID_HANDLE_VALUE;
  if (IsSameFile(name, list_file)) {
    ConsoleWarn("dorvane: the audit would overwrite the list it checks\n");
    *failed = true;
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE &&
      SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file)) {
    return file;
  }
  TellWhy("cannot create", name, GetLastError());
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  *failed = true;
  return INVALID_HANDLE_VALUE;
}

// Whether "--help" stands among the options after the command, where a
// user reading about one of them may well type it.
bool AsksForHelp(int argc, char** argv) {
  for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) return true;
  }
  return false;
}

// The run, from the arguments to the closing prompt.
int Run(int argc, char** argv) {
  PrepareProcess(&argc, &argv);
  if ((argc >= 2 && IsHelpArgument(argv[1])) || AsksForHelp(argc, argv)) return PrintHelp();
  if (argc >= 2 && IsVersionArgument(argv[1])) return PrintVersion();
  ConsolePrint("Dorvane developers 2026 MD5 checksum generator\n\n");
  if (argc < 3) {
    PrintUsage();
    return ExitTrouble;
  }
  const RunMode mode = ModeFromCommand(argv[1]);
  if (mode == ModeNone) {
    PrintUsage();
    return ExitTrouble;
  }
  RunOptions options;
  const char* names[MaxRunNames] = {nullptr, nullptr};
  int name_count = 0;
  if (!ReadRunArguments(mode, argc, argv, &options, names, &name_count)) {
    PrintUsage();
    return ExitTrouble;
  }
  // Create and append need the directory to list.
  if (name_count < 1 || (mode != ModeTest && name_count < 2)) {
    PrintUsage();
    return ExitTrouble;
  }
  const char* list_name = names[0];
  // A start directory that cannot be entered ends the run before the list
  // is opened, so that no empty list is left behind.
  const char* start_dir = names[1];
  if (mode != ModeTest && !CanEnterDirectory(start_dir)) {
    TellWhy("cannot enter", start_dir, GetLastError());
    ConsolePrint("invalid directory: %s\n", start_dir);
    ConsolePrint("press any key to continue...");
    WaitForKey();
    ConsolePrint("\n");
    return ExitTrouble;
  }
  // One kernel and thread count for the whole run, chosen from what the
  // processor and the process's limits offer.
  const HashPlan plan = ChooseHashPlan();
  // Create and append write a new version of the list beside it, which
  // takes the old list's place only once it is whole.
  NewVersion* new_list = nullptr;
  const HANDLE list_file = OpenTheList(mode, list_name, &new_list);
  if (list_file == INVALID_HANDLE_VALUE) {
    TellWhy(mode == ModeTest ? "cannot open" : "cannot create", list_name, GetLastError());
    ConsolePrint("cannot %s file\n", mode == ModeTest ? "open" : "create");
    WaitForKey();
    return ExitTrouble;
  }
  bool no_report = false;
  const HANDLE report =
      options.audit != nullptr ? OpenTheReport(options.audit, list_file, &no_report) : INVALID_HANDLE_VALUE;
  if (no_report) {
    CloseHandle(list_file);
    ConsolePrint("cannot create file\n");
    WaitForKey();
    return ExitTrouble;
  }
  Progress progress;
  const bool audit_on_output = options.audit != nullptr && report == INVALID_HANDLE_VALUE;
  StartProgress(&progress, mode == ModeTest, audit_on_output);
  // A list that cannot be read to its end, or a report that cannot be
  // written whole, is no clean pass, and a list that could not be written
  // whole is no list.
  int exit_code = ExitClean;
  if (mode == ModeTest) {
    exit_code = RunTest(list_file, list_name, plan, &progress, &options, report);
    CloseHandle(list_file);
    if (report != INVALID_HANDLE_VALUE) CloseHandle(report);
    PrintRunSummary(&progress);
  } else {
    const ListingResult result = RunListing(mode, list_file, start_dir, plan, &progress,
                                            OldVersionFile(new_list), &options.selection);
    // The old list stays as it was unless the new one is whole and on disk.
    bool placed = false;
    if (result == ListingWritten) {
      placed = FinishNewVersion(new_list);
    } else {
      AbandonNewVersion(new_list);
    }
    if (result == ListingWriteFailed || (result == ListingWritten && !placed)) {
      ConsolePrint("cannot write file\n");
    }
    // A list that misses what could not be opened is no list either.
    if (result == ListingNoHandle) ConsolePrint("too many open files\n");
    if (result == ListingNoMemory) TellNoMemory();
    if (!placed) exit_code = ExitTrouble;
    if (result != ListingNoDirectory) PrintRunSummary(&progress);
  }
  ConsolePrint("press any key to continue...");
  WaitForKey();
  ConsolePrint("\n");
  return exit_code;
}

}  // namespace

// Nothing the program calls throws but the standard library, when memory
// or a system resource cannot be had; no exception may end the run
// unheard. The old list stays as it was: only a whole new one replaces it.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    TellNoMemory();
  } catch (const std::exception& error) {
    ConsoleWarn("dorvane: stopped: %s\n", error.what());
  }
  return ExitTrouble;
}
