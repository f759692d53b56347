// Modes, opening the list file, the create/append run and the test run's
// report.
#include "cli/driver.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "listing/list_format.h"
#include "listing/walker.h"
#include "platform/console.h"
#include "platform/describe.h"
#include "platform/file64.h"
#include "platform/new_version.h"
#include "platform/process.h"
#include "platform/storage.h"
#include "verify/verifier.h"

namespace {

// Moves to the end of the list for append. Returns true when the list does
// not end with a line end, so that the new section must start on a new line.
bool SeekAppendPosition(HANDLE list_file) {
  bool needs_line_end = false;
  const std::uint64_t size = QueryFileSize(list_file);
  if (size != 0 && size != INVALID_FILE_SIZE) {
    LONG back_high = -1;
    char last = '\n';
    DWORD got = 0;
    if (SetFilePointer(list_file, -1, &back_high, FILE_END) != INVALID_SET_FILE_POINTER &&
        ReadFile(list_file, &last, 1, &got, nullptr) && got == 1) {
      needs_line_end = last != '\n';
    }
  }
  SetFilePointer(list_file, 0, nullptr, FILE_END);
  return needs_line_end;
}

// Writes the section of the current directory into the new version of
// the list, after the old list's lines for append.
bool WriteSection(RunMode mode, HANDLE list_file, HANDLE old_list, const char* root_path,
                  char* path, const HashPlan& plan, RunCounts* counts) {
  if (mode == ModeAppend) {
    if (old_list != INVALID_HANDLE_VALUE && !CopyFileData(old_list, list_file)) return false;
    if (SeekAppendPosition(list_file) && !WriteListText(list_file, "\r\n", 2)) return false;
  }
  char line[LineBufferSize];
  if (!WriteListText(list_file, line, BuildRootLine(root_path, line))) return false;
  std::strcpy(path, ".");
  // The tree's own storage decides how its files are read.
  return WalkDirectory(path, list_file, PlanForTree(plan), counts, old_list);
}

// A test that read no FILE line checked nothing, which is no pass; the
// list's first bytes may tell what it is instead.
void TellNothingChecked(HANDLE list_file, const char* list_name) {
  char head[4096];
  DWORD got = 0;
  const char* kind = nullptr;
  if (SetFilePointer(list_file, 0, nullptr, FILE_BEGIN) == 0 &&
      ReadFile(list_file, head, sizeof head, &got, nullptr)) {
    kind = RecognizeOtherList(head, got);
  }
  char name[LineBufferSize];
  PathForPeople(list_name, name, sizeof name);
  if (kind != nullptr) {
    ConsoleWarn("dorvane: %s holds no FILE line, so nothing was checked: it looks like %s\n",
                name, kind);
  } else {
    ConsoleWarn("dorvane: %s holds no FILE line, so nothing was checked\n", name);
  }
}

// Most listed files missing: the test most likely runs in another
// directory than the one the list was made from.
void TellWhereToTest(const RunCounts& counts) {
  if (counts.missing == 0 || 2 * counts.missing <= counts.listed) return;
  char here[PathBufferSize];
  const DWORD length = GetCurrentDirectoryA(PathBufferSize, here);
  if (length == 0 || length >= PathBufferSize) std::strcpy(here, ".");
  char root[LineBufferSize];
  PathForPeople(counts.root, root, sizeof root);
  char made[2 * LineBufferSize] = "";
  if (counts.roots == 1) {
    std::snprintf(made, sizeof made, "; the list was made in %s: run the test there", root);
  } else if (counts.roots > 1) {
    std::snprintf(made, sizeof made,
                  "; the list's first section was made in %s (each section is looked for "
                  "below the one directory the test runs in)",
                  root);
  }
  ConsoleWarn("dorvane: %llu of %llu listed files are missing below the current directory, %s%s\n",
              static_cast<unsigned long long>(counts.missing),
              static_cast<unsigned long long>(counts.listed), here, made);
}

}  // namespace

void TellNoMemory() { ConsoleWarn("dorvane: not enough memory\n"); }

bool IsHelpArgument(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 ||
         IsPlatformHelpSwitch(argument);
}

bool IsVersionArgument(const char* argument) {
  return std::strcmp(argument, "--version") == 0 || std::strcmp(argument, "-V") == 0;
}

bool CanEnterDirectory(const char* directory) {
  if (directory == nullptr) return false;
  char saved[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, saved);
  if (length == 0 || length >= MAX_PATH) {
    // The way back could not be kept: the type alone must do.
    const DWORD attributes = GetFileAttributesA(directory);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  // Entering is the one test of every reason it may fail (missing, no
  // directory, no search permission).
  if (!SetCurrentDirectoryA(directory)) return false;
  return SetCurrentDirectoryA(saved) != 0;
}

RunMode ModeFromCommand(const char* command) {
  if (command[0] == '\0' || command[1] != '\0') return ModeNone;
  switch (command[0]) {
    case 'c': case 'C': return ModeCreate;
    case 'a': case 'A': return ModeAppend;
    case 't': case 'T': return ModeTest;
    default: return ModeNone;
  }
}

HANDLE OpenListFile(const char* file_name) {
  return CreateFileA(file_name, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

ListingResult RunListing(RunMode mode, HANDLE list_file, const char* start_dir,
                         const HashPlan& plan, Progress* progress, HANDLE old_list) {
  char saved_directory[PathBufferSize];
  const DWORD saved_length = GetCurrentDirectoryA(PathBufferSize, saved_directory);
  const bool saved = saved_length > 0 && saved_length < PathBufferSize;

  // The absolute path is taken before the start directory becomes current,
  // so a relative StartDir is resolved against the starting directory. It
  // must fit MAX_PATH - 1 characters, counted as Windows counts them.
  char path[PathBufferSize];
  const char* root_path = start_dir;
  if (start_dir != nullptr) {
    const DWORD length = GetFullPathNameA(start_dir, PathBufferSize, path, nullptr);
    if (length > 0 && length < PathBufferSize && PathLength(path) <= MaxPathLength) {
      root_path = path;
    }
  }

  ListingResult result = ListingWritten;
  if (start_dir == nullptr || !SetCurrentDirectoryA(start_dir)) {
    ConsolePrint("invalid directory: %s\n", start_dir != nullptr ? start_dir : "(null)");
    result = ListingNoDirectory;
  } else {
    // Without a watcher of its own the walk still counts, for its result.
    RunCounts unwatched;
    ClearRunCounts(&unwatched);
    RunCounts* counts = progress != nullptr ? ProgressCounts(progress) : &unwatched;
    if (!WriteSection(mode, list_file, old_list, root_path, path, plan, counts)) {
      result = counts->no_memory   ? ListingNoMemory
               : counts->no_handle ? ListingNoHandle
                                   : ListingWriteFailed;
    }
  }
  EndProgress(progress);
  if (saved) SetCurrentDirectoryA(saved_directory);
  return result;
}

int RunTest(HANDLE list_file, const char* list_name, const HashPlan& plan,
            Progress* progress) {
  ListReader reader;
  InitListReader(&reader, list_file, ListReadBufferSize);
  // Without a watcher of its own the test still counts, for its verdict.
  RunCounts unwatched;
  ClearRunCounts(&unwatched);
  RunCounts* counts = progress != nullptr ? ProgressCounts(progress) : &unwatched;
  // Only a status line shows the share done.
  if (counts->on_file != nullptr) FollowListReading(progress, &reader);
  char failure_list[FailureListSize];
  // The listed files lie below the current directory.
  const int whole = VerifyList(&reader, failure_list, FailureListSize, PlanForTree(plan), counts);
  EndProgress(progress);
  FollowListReading(progress, nullptr);
  // A report that is lost would read as a clean pass.
  bool printed = true;
  if (failure_list[0] != '\0') {
    printed = ConsolePrint("errors:\n") && printed;
    for (const char* entry = failure_list; *entry != '\0'; entry += std::strlen(entry) + 1) {
      printed = ConsolePrint("%s\n", entry) && printed;
    }
    if (!whole) printed = ConsolePrint("... and some others...\n") && printed;
  }
  if (reader.failed) ConsolePrint("cannot read file\n");
  if (counts->no_handle) ConsolePrint("too many open files\n");
  if (counts->no_memory) TellNoMemory();
  if (reader.failed || counts->no_handle || counts->no_memory || !printed) return ExitTrouble;
  if (counts->listed == 0) {
    TellNothingChecked(list_file, list_name);
    return ExitTrouble;
  }
  TellWhereToTest(*counts);
  return failure_list[0] != '\0' || !whole ? ExitFilesFailed : ExitClean;
}

void PrintUsageText() {
  ConsolePrint("Syntax:\n");
  ConsolePrint("    Dorvane <command> FileName StartDir\n\n");
  ConsolePrint("command:\n");
  ConsolePrint("    c - create\n");
  ConsolePrint("    a - append\n");
  ConsolePrint("    t - test\n\n");
}

void PrintUsage() {
  PrintUsageText();
  WaitForKey();
}
