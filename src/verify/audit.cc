// The audit report: listed files judged, new files searched for, moves
// paired.
#include "verify/audit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "listing/list_format.h"
#include "listing/walker.h"
#include "platform/console.h"
#include "platform/describe.h"
#include "platform/file64.h"
#include "platform/names.h"

namespace {

enum class Found : unsigned char {
  Waiting,     // to be judged
  Same,
  Changed,
  Unreadable,
  Missing,
  Ignored,     // missing, and left unreported
  Present,     // another part's, and there
  Absent,      // another part's, and not there
};

struct ListedFile {
  std::uint64_t size;
  const char* path;
  std::uint32_t group;
  std::uint32_t moved;  // index of the new file it became, or NoMove
  Found found;
  bool own;
  char digest[HexDigestSize];
};

struct NewFile {
  std::uint64_t size;  // known once it could be a move
  const char* path;
  std::uint32_t group;
  bool paired;
  char digest[HexDigestSize];  // empty unless it could be a move
};

constexpr std::uint32_t NoMove = UINT32_MAX;
constexpr std::size_t ReportBatchSize = 64 * 1024;
constexpr std::size_t PathBlockSize = 1 << 20;

// Paths kept for the whole run, in blocks that never move, so that the
// sets can hold views of them.
struct PathStore {
  std::vector<std::unique_ptr<char[]>> blocks;
  std::size_t used = 0;
  std::size_t room = 0;
};

const char* KeepText(PathStore* store, std::string_view text) {
  const std::size_t size = text.size() + 1;
  if (size > store->room - store->used) {
    store->room = std::max(size, PathBlockSize);
    store->blocks.emplace_back(new char[store->room]);
    store->used = 0;
  }
  char* kept = store->blocks.back().get() + store->used;
  std::memcpy(kept, text.data(), text.size());
  kept[text.size()] = '\0';
  store->used += size;
  return kept;
}

// The directory a section's files lie below, the paths of its files as
// the set knows them, and the directories to search for new ones.
struct Group {
  std::string directory;
  std::unordered_set<std::string_view> listed;
  std::vector<std::string> directories;
  std::unordered_set<std::string> directories_seen;
};

// A search below one directory of the current one: the paths of the files
// found and the words for people. On a thread of its own while the check
// runs; what it finds is its own until it is joined.
struct Search {
  std::thread thread;
  bool running = false;
  bool ok = true;
  std::string top;  // as a group's directories are kept ("" the top)
  Selection patterns;
  PathStore paths;
  std::vector<const char*> found;
  std::vector<std::string> messages;
};

enum CountIndex { Same, Changed, Missing, New, Moved, Unreadable };

}  // namespace

struct Audit {
  AuditSetup setup;
  PathStore paths;
  std::vector<ListedFile> files;
  std::vector<NewFile> found;
  std::vector<Group> groups;
  std::uint32_t group = 0;       // the current section's
  std::size_t next_judged = 0;   // the oldest own file not yet judged
  std::uint32_t written_group = UINT32_MAX;
  std::string report;
  bool write_failed = false;
  bool list_cut = false;
  Search early;  // the first section's, while the check runs
  std::uint64_t counts[6] = {};
};

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A listed or found path as a group's set knows it: below the start
// directory, with backslashes, in buffer when it must be rewritten.
std::string_view PathKey(const char* path, std::string* buffer) {
  const char* below = PathBelowStart(path);
  if (std::strchr(below, '/') == nullptr) return below;
  *buffer = below;
  std::replace(buffer->begin(), buffer->end(), '/', '\\');
  return *buffer;
}

// Keeps the key of path, a view of the kept path where it can be.
std::string_view KeepKey(Audit* audit, const char* kept_path) {
  std::string buffer;
  const std::string_view key = PathKey(kept_path, &buffer);
  if (key.data() != buffer.data()) return key;
  return {KeepText(&audit->paths, key), key.size()};
}

bool FlushReport(Audit* audit) {
  if (audit->report.empty()) return !audit->write_failed;
  bool ok;
  if (audit->setup.report_file == INVALID_HANDLE_VALUE) {
    ok = ConsolePrint("%s", audit->report.c_str());
  } else {
    DWORD written = 0;
    ok = WriteFile(audit->setup.report_file, audit->report.data(),
                   static_cast<DWORD>(audit->report.size()), &written, nullptr) &&
         written == audit->report.size();
  }
  audit->report.clear();
  if (!ok) audit->write_failed = true;
  return !audit->write_failed;
}

// Ends a line; standard output makes CR LF of "\n" itself.
void EndLine(Audit* audit) {
  audit->report += audit->setup.report_file == INVALID_HANDLE_VALUE ? "\n" : "\r\n";
  if (audit->report.size() >= ReportBatchSize) FlushReport(audit);
}

// With sections below their own directories, a line that follows one of
// another group's first says which directory its path lies below.
void StartLine(Audit* audit, std::uint32_t group, char status, const char* path) {
  if (audit->setup.roots && group != audit->written_group) {
    audit->report += "@ ";
    audit->report += audit->groups[group].directory;
    EndLine(audit);
  }
  audit->written_group = group;
  audit->report += status;
  audit->report += ' ';
  audit->report += path;
}

void WriteLine(Audit* audit, std::uint32_t group, char status, const char* path,
               const char* detail = nullptr) {
  StartLine(audit, group, status, path);
  if (detail != nullptr) {
    audit->report += '\t';
    audit->report += detail;
  }
  EndLine(audit);
}

const char* DescribeFailure(const HashResult& result, char* text, std::size_t size) {
  switch (result.failure) {
    case HashFailure::Refused:
      return "refused: the path leads out of the directory it is checked in";
    case HashFailure::Read: return "a read failed";
    case HashFailure::Changed: return "it changed while it was read";
    default:
      DescribeError(result.error, text, size);
      return text;
  }
}

bool IsNotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsOwnFile(const Audit* audit, const char* path) {
  return IsSameFile(path, audit->setup.list_file) ||
         (audit->setup.report_file != INVALID_HANDLE_VALUE &&
          IsSameFile(path, audit->setup.report_file));
}

bool KeepFoundFile(void* context, const char* path, std::uint64_t) {
  auto* search = static_cast<Search*>(context);
  search->found.push_back(KeepText(&search->paths, path));
  return true;
}

void KeepMessage(void* watcher, const char* text) {
  static_cast<Search*>(watcher)->messages.emplace_back(text);
}

// Walks search->top as a create would, keeping every file it would list.
void RunSearch(Search* search) {
  try {
    RunCounts counts;
    ClearRunCounts(&counts);
    counts.on_message = KeepMessage;
    counts.watcher = search;
    char path[PathBufferSize];
    const std::string walk = ".\\" + search->top;
    const DWORD attributes = GetFileAttributesA(walk.c_str());
    if (walk.size() >= sizeof path || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return;
    }
    std::memcpy(path, walk.c_str(), walk.size() + 1);
    search->ok = VisitTreeFiles(path, &search->patterns, &counts, KeepFoundFile, search);
  } catch (const std::bad_alloc&) {
    search->ok = false;
  }
}

// A search of top by the audit's patterns: every file is searched for,
// whichever part reports it.
void PrepareSearch(Search* search, const Audit* audit, const std::string& top) {
  search->top = top;
  search->patterns = *audit->setup.selection;
  search->patterns.part = 0;
  search->patterns.parts = 1;
}

void StartSearch(Search* search, const Audit* audit, const std::string& top) {
  PrepareSearch(search, audit, top);
  try {
    search->thread = std::thread(RunSearch, search);
    search->running = true;
  } catch (const std::exception&) {
    search->running = false;
  }
}

// Waits for a search on its thread; false when there was none.
bool JoinSearch(Search* search) {
  if (!search->running) return false;
  search->thread.join();
  search->running = false;
  return true;
}

// The found files of search that group does not list, and that are not
// the run's own, become new files; its words are told.
bool TakeSearch(Audit* audit, std::uint32_t index, Search* search) {
  for (const std::string& message : search->messages) ConsoleWarn("%s\n", message.c_str());
  Group& group = audit->groups[index];
  std::string buffer;
  for (const char* path : search->found) {
    if (group.listed.count(PathKey(path, &buffer)) != 0 || IsOwnFile(audit, path)) continue;
    NewFile file = {};
    file.path = KeepText(&audit->paths, path);
    file.group = index;
    audit->found.push_back(file);
  }
  return search->ok;
}

// The directories to search: those the list names that no other one it
// names lies below.
std::vector<std::string> TopDirectories(const Group& group) {
  std::vector<std::string> sorted = group.directories;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> tops;
  for (const std::string& directory : sorted) {
    if (!tops.empty() && directory.compare(0, tops.back().size(), tops.back()) == 0) continue;
    tops.push_back(directory);
  }
  return tops;
}

// Searches the group below the current directory; the early search, when
// it searched one of its tops, stands for that one.
bool SearchGroup(Audit* audit, std::uint32_t index, Search* early) {
  bool ok = true;
  for (const std::string& top : TopDirectories(audit->groups[index])) {
    if (early != nullptr && early->top == top) {
      ok = TakeSearch(audit, index, early) && ok;
      continue;
    }
    Search search;
    PrepareSearch(&search, audit, top);
    RunSearch(&search);
    ok = TakeSearch(audit, index, &search) && ok;
  }
  return ok;
}

bool MayPair(const ListedFile& file) {
  return file.found == Found::Missing || file.found == Found::Absent;
}

// The size of a found file (the search's listings give none); false when
// it cannot be opened.
bool SizeOfFound(const char* path, std::uint64_t* size) {
  const HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_DIRECTORY_LINKS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  *size = QueryFileSize(file);
  CloseHandle(file);
  return *size != INVALID_FILE_SIZE;
}

// Hashes the new files of group whose size is that of a missing file.
void HashCandidates(Audit* audit, std::uint32_t group, const HashPlan& plan) {
  std::unordered_set<std::uint64_t> sizes;
  for (const ListedFile& file : audit->files) {
    if (file.group == group && MayPair(file)) sizes.insert(file.size);
  }
  if (sizes.empty()) return;
  HashQueue* hashing = StartHashQueue(plan);
  if (hashing == nullptr) return;
  std::vector<std::uint32_t> queued;
  std::size_t taken = 0;
  auto take_one = [&] {
    HashResult result;
    TakeHashResult(hashing, &result);
    NewFile& file = audit->found[queued[taken++]];
    if (result.ok && result.hashed_size == result.note->size) {
      file.size = result.hashed_size;
      std::strcpy(file.digest, result.hex);
    }
  };
  for (std::uint32_t i = 0; i < audit->found.size(); ++i) {
    const NewFile& file = audit->found[i];
    HashNote note = {};
    if (file.group != group || !SizeOfFound(file.path, &note.size) ||
        sizes.count(note.size) == 0) {
      continue;
    }
    if (HashQueueFull(hashing)) take_one();
    QueueFileToHash(hashing, file.path, FILE_FLAG_NO_DIRECTORY_LINKS, note);
    queued.push_back(i);
  }
  while (!HashQueueEmpty(hashing)) take_one();
  EndHashQueue(hashing);
}

std::string MoveKey(std::uint32_t group, std::uint64_t size, const char* digest) {
  std::string key = std::to_string(group) + ' ' + std::to_string(size) + ' ' + digest;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

// Each missing file, in list order, becomes the first new file not yet
// taken, in walk order, with its group, size and digest. Every part pairs
// alike: all of them know every missing and every new file.
void PairMoves(Audit* audit) {
  std::unordered_map<std::string, std::vector<std::uint32_t>> candidates;
  for (std::uint32_t i = 0; i < audit->found.size(); ++i) {
    const NewFile& file = audit->found[i];
    if (file.digest[0] != '\0') candidates[MoveKey(file.group, file.size, file.digest)].push_back(i);
  }
  std::unordered_map<std::string, std::size_t> next;
  for (ListedFile& file : audit->files) {
    if (!MayPair(file)) continue;
    const std::string key = MoveKey(file.group, file.size, file.digest);
    const auto match = candidates.find(key);
    if (match == candidates.end()) continue;
    std::size_t& at = next[key];
    if (at == match->second.size()) continue;
    file.moved = match->second[at++];
    audit->found[file.moved].paired = true;
  }
}

void WriteMissingAndNew(Audit* audit) {
  for (const ListedFile& file : audit->files) {
    if (!file.own || file.found != Found::Missing) continue;
    if (file.moved == NoMove) {
      WriteLine(audit, file.group, '-', file.path);
      ++audit->counts[Missing];
      continue;
    }
    StartLine(audit, file.group, '>', file.path);
    audit->report += "\tmoved\t";
    audit->report += audit->found[file.moved].path;
    EndLine(audit);
    ++audit->counts[Moved];
  }
  for (const NewFile& file : audit->found) {
    if (file.paired || !OwnsPath(*audit->setup.selection, file.path)) continue;
    WriteLine(audit, file.group, '+', file.path);
    ++audit->counts[New];
  }
}

void WriteCounts(Audit* audit) {
  const std::uint64_t* n = audit->counts;
  char line[256];
  std::snprintf(line, sizeof line,
                "# %llu same, %llu changed, %llu missing, %llu new, %llu moved, %llu unreadable",
                static_cast<unsigned long long>(n[Same]), static_cast<unsigned long long>(n[Changed]),
                static_cast<unsigned long long>(n[Missing]), static_cast<unsigned long long>(n[New]),
                static_cast<unsigned long long>(n[Moved]),
                static_cast<unsigned long long>(n[Unreadable]));
  audit->report += line;
  EndLine(audit);
}

}  // namespace

Audit* StartAudit(const AuditSetup& setup) {
  auto* audit = new (std::nothrow) Audit;
  if (audit == nullptr) return nullptr;
  audit->setup = setup;
  AuditSection(audit);
  return audit;
}

void EndAudit(Audit* audit) {
  if (audit == nullptr) return;
  JoinSearch(&audit->early);
  delete audit;
}

void AuditSection(Audit* audit) {
  char here[PathBufferSize];
  const DWORD length = GetCurrentDirectoryA(PathBufferSize, here);
  const std::string directory = length > 0 && length < PathBufferSize ? here : ".";
  for (std::uint32_t i = 0; i < audit->groups.size(); ++i) {
    if (audit->groups[i].directory == directory) {
      audit->group = i;
      return;
    }
  }
  audit->groups.emplace_back();
  audit->groups.back().directory = directory;
  audit->group = static_cast<std::uint32_t>(audit->groups.size() - 1);
}

void AuditDirectory(Audit* audit, const char* prefix) {
  Group& group = audit->groups[audit->group];
  std::string buffer;
  std::string key(PathKey(prefix, &buffer));
  if (!key.empty() && !IsSeparator(key.back())) key += '\\';
  if (!group.directories_seen.insert(key).second) return;
  group.directories.push_back(key);
  // The first directory is searched while the check runs, where the
  // current directory stays put until the check ends.
  if (!audit->setup.roots && audit->groups.size() == 1 && group.directories.size() == 1) {
    StartSearch(&audit->early, audit, key);
  }
}

void AuditListed(Audit* audit, const char* path, const char* digest, std::uint64_t size,
                 bool own, bool inside) {
  const char* kept = KeepText(&audit->paths, path);
  const std::string_view key = KeepKey(audit, kept);
  Group& group = audit->groups[audit->group];
  group.listed.insert(key);
  // A list of the legacy code page names the file the walk finds in UTF-8.
  char legacy[3 * LineBufferSize];
  if (!IsValidUtf8(path) && LegacyNamePath(path, legacy, sizeof legacy)) {
    group.listed.insert(KeepKey(audit, KeepText(&audit->paths, legacy)));
  }
  // A file before any DIR line lies in the section's top directory.
  if (group.directories.empty() && key.find('\\') == std::string_view::npos) {
    AuditDirectory(audit, "");
  }
  ListedFile file = {};
  file.size = size;
  file.path = kept;
  file.group = audit->group;
  file.moved = NoMove;
  file.own = own;
  file.found = own ? Found::Waiting : Found::Present;
  std::strcpy(file.digest, digest);
  if (!own && inside && !audit->setup.ignore_missing &&
      GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && IsNotFound(GetLastError())) {
    file.found = Found::Absent;
  }
  audit->files.push_back(file);
}

void AuditJudged(Audit* audit, const HashResult& result, bool same) {
  while (audit->next_judged < audit->files.size() && !audit->files[audit->next_judged].own) {
    ++audit->next_judged;
  }
  if (audit->next_judged == audit->files.size()) return;
  ListedFile& file = audit->files[audit->next_judged++];
  if (same) {
    file.found = Found::Same;
    WriteLine(audit, file.group, '=', file.path);
    ++audit->counts[Same];
  } else if (result.ok) {
    file.found = Found::Changed;
    WriteLine(audit, file.group, '*', file.path);
    ++audit->counts[Changed];
  } else if (result.failure == HashFailure::Open && IsNotFound(result.error)) {
    file.found = audit->setup.ignore_missing ? Found::Ignored : Found::Missing;
  } else {
    file.found = Found::Unreadable;
    char reason[ErrorTextSize];
    WriteLine(audit, file.group, '!', file.path, DescribeFailure(result, reason, sizeof reason));
    ++audit->counts[Unreadable];
  }
}

void AuditListCut(Audit* audit) { audit->list_cut = true; }

bool FinishAudit(Audit* audit, bool list_read, const HashPlan& plan, RunCounts* counts) {
  Search* early = JoinSearch(&audit->early) ? &audit->early : nullptr;
  char saved[PathBufferSize];
  const DWORD length = GetCurrentDirectoryA(PathBufferSize, saved);
  // Files of a list not read to its end would pass for new.
  if (!list_read) audit->list_cut = true;
  bool searched = true;
  for (std::uint32_t i = 0; i < audit->groups.size() && !audit->list_cut; ++i) {
    if (!SetCurrentDirectoryA(audit->groups[i].directory.c_str())) continue;
    const std::size_t before = audit->found.size();
    searched = SearchGroup(audit, i, i == 0 ? early : nullptr) && searched;
    if (audit->found.size() > before) HashCandidates(audit, i, plan);
  }
  if (!searched) CountNoMemory(counts);
  if (length > 0 && length < PathBufferSize) SetCurrentDirectoryA(saved);
  PairMoves(audit);
  WriteMissingAndNew(audit);
  WriteCounts(audit);
  return FlushReport(audit) && searched && !audit->list_cut;
}

bool AuditDiffers(const Audit* audit) {
  for (int i = Changed; i <= Unreadable; ++i) {
    if (audit->counts[i] != 0) return true;
  }
  return false;
}
