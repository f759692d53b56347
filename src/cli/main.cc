// Program entry: banner, arguments, mode, list file, closing prompt.
#include "cli/driver.h"
#include "platform/console.h"
#include "platform/new_version.h"
#include "platform/process.h"
#include "platform/win32.h"

namespace {

// Asked for by name, help and the version go to standard output alone,
// without the banner or the key wait, for people and scripts alike.
int PrintHelp() {
  PrintUsageText();
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

}  // namespace

int main(int argc, char** argv) {
  PrepareProcess(&argc, &argv);
  if (argc >= 2 && IsHelpArgument(argv[1])) return PrintHelp();
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
  // A start directory that cannot be entered ends the run before the list
  // is opened, so that no empty list is left behind.
  const char* start_dir = argc > 3 ? argv[3] : nullptr;
  if (mode != ModeTest && !CanEnterDirectory(start_dir)) {
    ConsolePrint("invalid directory: %s\n", start_dir != nullptr ? start_dir : "(null)");
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
  NewVersion* new_list = mode == ModeTest ? nullptr : StartNewVersion(argv[2]);
  HANDLE list_file = mode == ModeTest ? OpenListFile(argv[2])
                     : new_list != nullptr ? NewVersionFile(new_list)
                                           : INVALID_HANDLE_VALUE;
  if (list_file == INVALID_HANDLE_VALUE) {
    ConsolePrint("cannot %s file\n", mode == ModeTest ? "open" : "create");
    WaitForKey();
    return ExitTrouble;
  }
  Progress progress;
  StartProgress(&progress, mode == ModeTest);
  // A list that cannot be read to its end, or a report that cannot be
  // written whole, is no clean pass, and a list that could not be written
  // whole is no list.
  int exit_code = ExitClean;
  if (mode == ModeTest) {
    exit_code = RunTest(list_file, plan, &progress);
    CloseHandle(list_file);
    PrintRunSummary(&progress);
  } else {
    const ListingResult result = RunListing(mode, list_file, start_dir, plan, &progress,
                                            OldVersionFile(new_list));
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
    if (!placed) exit_code = ExitTrouble;
    if (result != ListingNoDirectory) PrintRunSummary(&progress);
  }
  ConsolePrint("press any key to continue...");
  WaitForKey();
  ConsolePrint("\n");
  return exit_code;
}
