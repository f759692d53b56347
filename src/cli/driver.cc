// Modes, opening the list file, the create/append run and the test run's
// report.
#include "cli/driver.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "listing/list_format.h"
#include "listing/walker.h"
#include "platform/console.h"
#include "platform/describe.h"
#include "platform/file64.h"
#include "platform/new_version.h"
#include "platform/process.h"
#include "platform/storage.h"
#include "verify/audit.h"
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
                  char* path, const HashPlan& plan, RunCounts* counts,
                  const Selection* selection) {
  if (mode == ModeAppend) {
    if (old_list != INVALID_HANDLE_VALUE && !CopyFileData(old_list, list_file)) return false;
    if (SeekAppendPosition(list_file) && !WriteListText(list_file, "\r\n", 2)) return false;
  }
  char line[LineBufferSize];
  if (!WriteListText(list_file, line, BuildRootLine(root_path, line))) return false;
  std::strcpy(path, ".");
  // The tree's own storage decides how its files are read.
  return WalkDirectory(path, list_file, PlanForTree(plan), counts, old_list, selection);
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
void TellWhereToTest(const RunCounts& counts, const RunOptions& options) {
  const std::uint64_t checked = counts.listed - counts.other_parts;
  if (options.ignore_missing || counts.missing == 0 || 2 * counts.missing <= checked) return;
  if (options.roots) {
    ConsoleWarn("dorvane: %llu of %llu listed files are missing below their sections' "
                "directories\n",
                static_cast<unsigned long long>(counts.missing),
                static_cast<unsigned long long>(checked));
    return;
  }
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
              static_cast<unsigned long long>(checked), here, made);
}

// Options whose name is known: which commands take each, and whether it
// takes a value.
enum OptionName { OptionAudit, OptionRoots, OptionIgnoreMissing, OptionPart, OptionExclude };

struct KnownOption {
  const char* name;
  bool takes_value;
  bool for_listing;  // c and a
  bool for_test;     // t
};

constexpr KnownOption Options[] = {
    {"audit", true, false, true},
    {"roots", false, false, true},
    {"ignore-missing", false, false, true},
    {"part", true, true, true},
    {"exclude", true, true, true},
};

// Finds the option argument names ("--name" or "--name=value"); -1 when none.
int FindOption(const char* argument, const char** inline_value) {
  const char* name = argument + 2;
  for (int i = 0; i < static_cast<int>(sizeof Options / sizeof Options[0]); ++i) {
    const std::size_t length = std::strlen(Options[i].name);
    if (std::strncmp(name, Options[i].name, length) != 0) continue;
    if (name[length] == '\0') {
      *inline_value = nullptr;
      return i;
    }
    if (name[length] == '=' && Options[i].takes_value) {
      *inline_value = name + length + 1;
      return i;
    }
  }
  return -1;
}

bool TakeOption(int option, const char* value, RunOptions* options) {
  switch (option) {
    case OptionAudit:
      options->audit = value;
      return value[0] != '\0';
    case OptionRoots: options->roots = true; return true;
    case OptionIgnoreMissing: options->ignore_missing = true; return true;
    case OptionPart:
      return ParsePart(value, &options->selection.part, &options->selection.parts);
    default:
      if (options->selection.exclude_count == MaxExcludePatterns || value[0] == '\0') {
        return false;
      }
      options->selection.excludes[options->selection.exclude_count++] = value;
      return true;
  }
}

// Missing files left unreported are named by their number; when none of
// this run's files was found, nothing was checked. false then.
bool TellIgnored(const RunCounts& counts) {
  const auto ignored = static_cast<unsigned long long>(counts.ignored);
  if (counts.ignored == counts.listed - counts.other_parts) {
    ConsoleWarn("dorvane: none of the %llu listed files was found, so nothing was checked\n",
                ignored);
    return false;
  }
  ConsoleWarn("dorvane: %llu listed file%s not found, left unreported (--ignore-missing)\n",
              ignored, ignored == 1 ? " was" : "s were");
  return true;
}

}  // namespace

bool ReadRunArguments(RunMode mode, int argc, char** argv, RunOptions* options,
                      const char** names, int* name_count) {
  ClearSelection(&options->selection);
  options->audit = nullptr;
  options->roots = false;
  options->ignore_missing = false;
  *name_count = 0;
  bool options_end = false;
  for (int i = 2; i < argc; ++i) {
    const char* argument = argv[i];
    if (options_end || std::strncmp(argument, "--", 2) != 0) {
      if (*name_count < MaxRunNames) names[(*name_count)++] = argument;
      continue;
    }
    if (argument[2] == '\0') {
      options_end = true;
      continue;
    }
    const char* value = nullptr;
    const int option = FindOption(argument, &value);
    if (option < 0) {
      ConsoleWarn("dorvane: unknown option %s\n", argument);
      return false;
    }
    const KnownOption& known = Options[option];
    if (!(mode == ModeTest ? known.for_test : known.for_listing)) {
      ConsoleWarn("dorvane: --%s is no option of %s\n", known.name, argv[1]);
      return false;
    }
    if (known.takes_value && value == nullptr) {
      if (i + 1 == argc) {
        ConsoleWarn("dorvane: --%s needs a value\n", known.name);
        return false;
      }
      value = argv[++i];
    }
    if (!TakeOption(option, value, options)) {
      ConsoleWarn("dorvane: --%s cannot take %s\n", known.name, value);
      return false;
    }
  }
  if (mode == ModeTest && options->selection.exclude_count > 0 && options->audit == nullptr) {
    ConsoleWarn("dorvane: --exclude of t leaves files out of the audit's search: it needs --audit\n");
    return false;
  }
  return true;
}

void PrintOptionsText() {
  ConsolePrint("options, after the command:\n"
               "    --exclude PATTERN  c, a: leave out every entry whose name, or path below\n"
               "                       StartDir, matches PATTERN (* ? [...]); repeatable\n"
               "    --part K/N         c, a: list the K-th of N shares of the directories;\n"
               "                       t: check the K-th of N shares of the listed files\n"
               "    --audit FILE       t: write a line for every listed file and for every\n"
               "                       file found but not listed to FILE (- for standard\n"
               "                       output); --exclude leaves files out of that search\n"
               "    --roots            t: check each section below its ROOT directory\n"
               "    --ignore-missing   t: leave the files that are not found unreported\n\n");
}

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
                         const HashPlan& plan, Progress* progress, HANDLE old_list,
                         const Selection* selection) {
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
    if (!WriteSection(mode, list_file, old_list, root_path, path, plan, counts, selection)) {
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
            Progress* progress, const RunOptions* options, HANDLE report) {
  static constexpr RunOptions WholeList = {{{}, 0, 0, 1}, nullptr, false, false};
  if (options == nullptr) options = &WholeList;
  ListReader reader;
  InitListReader(&reader, list_file, ListReadBufferSize);
  // Without a watcher of its own the test still counts, for its verdict.
  RunCounts unwatched;
  ClearRunCounts(&unwatched);
  RunCounts* counts = progress != nullptr ? ProgressCounts(progress) : &unwatched;
  // On the heap: a stack that cannot grow for lack of memory ends the run
  // unheard, an allocation that fails is told.
  const std::unique_ptr<char[]> failures(new (std::nothrow) char[FailureListSize]);
  if (failures == nullptr) {
    TellNoMemory();
    return ExitTrouble;
  }
  char* failure_list = failures.get();
  Audit* audit = nullptr;
  if (options->audit != nullptr) {
    audit = StartAudit({report, list_file, &options->selection, options->roots,
                        options->ignore_missing});
    if (audit == nullptr) {
      TellNoMemory();
      return ExitTrouble;
    }
  }
  // Only a status line shows the share done.
  if (counts->on_file != nullptr) FollowListReading(progress, &reader);
  // The listed files lie below the current directory, or their sections'.
  const HashPlan tree_plan = PlanForTree(plan);
  const TestOptions test = {&options->selection, options->roots, options->ignore_missing, audit};
  const int whole_list = VerifyList(&reader, failure_list, FailureListSize, tree_plan, counts, &test);
  const bool audited = audit == nullptr || FinishAudit(audit, !reader.failed, tree_plan, counts);
  const bool differs = audit != nullptr && AuditDiffers(audit);
  EndAudit(audit);
  EndProgress(progress);
  FollowListReading(progress, nullptr);
  // A report that is lost would read as a clean pass.
  bool printed = true;
  if (failure_list[0] != '\0') {
    printed = ConsolePrint("errors:\n") && printed;
    for (const char* entry = failure_list; *entry != '\0'; entry += std::strlen(entry) + 1) {
      printed = ConsolePrint("%s\n", entry) && printed;
    }
    if (!whole_list) printed = ConsolePrint("... and some others...\n") && printed;
  }
  if (reader.failed) ConsolePrint("cannot read file\n");
  if (counts->no_handle) ConsolePrint("too many open files\n");
  if (counts->no_memory) TellNoMemory();
  if (!audited) {
    ConsoleWarn("dorvane: the audit is not whole: the list could not be read, or the report "
                "written, to its end\n");
  }
  if (reader.failed || counts->no_handle || counts->no_memory || !printed || !audited) {
    return ExitTrouble;
  }
  if (counts->listed == 0) {
    TellNothingChecked(list_file, list_name);
    return ExitTrouble;
  }
  TellWhereToTest(*counts, *options);
  if (counts->ignored > 0 && !TellIgnored(*counts)) return ExitTrouble;
  return failure_list[0] != '\0' || !whole_list || differs ? ExitFilesFailed : ExitClean;
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
