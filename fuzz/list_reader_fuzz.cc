// Fuzz target: arbitrary bytes as a checksum list, verified over a small
// fixed tree by VerifyList. It must end, stay inside its buffers, and leave
// a well-formed failure list, cut where a run with room for every failure
// shows the next one no longer fitted. The run with room uses the scalar MD5
// kernel, the other the best one the machine has: both must judge every
// line alike.
//
// Input: byte 0 picks the reader's read size, byte 1 the failure list's
// capacity (small ones to reach the overflow path); the rest is the list.
// The tree, made once in a fresh temporary directory that is then current:
//   abc.txt ("abc"), empty.bin (empty), data01 ("abc"), "b c.txt" ("abc"),
//   sub/abc.txt ("abc"), sub/deeper/x ("x"), and the list file itself.
// Because the tree becomes current before the corpus is read, corpus and
// artifact paths given to this target must be absolute.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "verify/verifier.h"

namespace {

constexpr DWORD ReadSizes[] = {1, 2, 5, 64, 4096, ListReadBufferSize};
constexpr char ListName[] = "fuzz.lst";
// Room for the failures of most lists the fuzzer makes up; where it is not
// enough, the runs are compared as far as it goes.
constexpr std::size_t RoomyCapacity = 1 << 18;

void PutFile(const char* path, const void* bytes, std::size_t size) {
  FILE* out = std::fopen(path, "wb");
  if (out == nullptr) abort();
  std::fwrite(bytes, 1, size, out);
  std::fclose(out);
}

// The tree's path, for its removal at exit.
char tree_root[] = "/tmp/dorvane-list-fuzz-XXXXXX";

void RemoveTree() {
  std::error_code ignored;
  std::filesystem::remove_all(tree_root, ignored);
}

void MakeTree() {
  if (mkdtemp(tree_root) == nullptr || chdir(tree_root) != 0) abort();
  std::atexit(RemoveTree);
  if (mkdir("sub", 0700) != 0 || mkdir("sub/deeper", 0700) != 0) abort();
  PutFile("abc.txt", "abc", 3);
  PutFile("empty.bin", "", 0);
  PutFile("data01", "abc", 3);
  PutFile("b c.txt", "abc", 3);
  PutFile("sub/abc.txt", "abc", 3);
  PutFile("sub/deeper/x", "x", 1);
}

std::size_t CapacityOf(std::uint8_t byte) {
  return byte >= 0x80 ? FailureListSize : 1 + byte % 64;
}

// A run of VerifyList over the list file.
struct Verified {
  int whole;
  bool failed;
  std::uint64_t position;
  std::vector<std::string> entries;
};

// The entries of a failure list; every entry must lie inside the buffer and
// the empty closing entry follow.
std::vector<std::string> EntriesOf(const std::vector<char>& list) {
  std::vector<std::string> entries;
  std::size_t at = 0;
  while (at < list.size() && list[at] != '\0') {
    const void* end = std::memchr(list.data() + at, '\0', list.size() - at);
    if (end == nullptr) abort();
    entries.emplace_back(list.data() + at);
    at = static_cast<const char*>(end) - list.data() + 1;
  }
  if (at >= list.size()) abort();
  return entries;
}

Verified VerifyListFile(DWORD read_size, std::size_t capacity,
                        const Md5LaneKernel* kernel) {
  HANDLE list = CreateFileA(ListName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (list == INVALID_HANDLE_VALUE) abort();
  auto* reader = new ListReader;
  InitListReader(reader, list, read_size);
  // Exactly capacity bytes on the heap, so that a write past them is caught.
  std::vector<char> failures(capacity, '#');
  const int whole = VerifyList(reader, failures.data(), capacity, HashPlan{kernel, 1, StorageUnknown, {}});
  Verified verified{whole, reader->failed, reader->position, EntriesOf(failures)};
  delete reader;
  CloseHandle(list);
  return verified;
}

// Against a run with room for every failure: the same paths, cut exactly
// before the first one whose length + 1 no longer fitted the room left.
void CheckTheCut(const Verified& run, std::size_t capacity, const Verified& roomy) {
  const std::vector<std::string>& all = roomy.entries;
  if (run.entries.size() > all.size()) abort();
  std::size_t room = capacity;
  for (std::size_t i = 0; i < run.entries.size(); ++i) {
    if (run.entries[i] != all[i]) abort();
    room -= all[i].size() + 1;
  }
  if (run.entries.size() < all.size()) {
    if (run.whole != 0 || all[run.entries.size()].size() + 1 < room) abort();
  } else if (roomy.whole == 1 && run.whole != 1) {
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeTree();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const DWORD read_size = ReadSizes[data[0] % (sizeof ReadSizes / sizeof ReadSizes[0])];
  const std::size_t capacity = CapacityOf(data[1]);
  PutFile(ListName, data + 2, size - 2);
  const Md5LaneKernel* kernels[8];
  const int count = UsableMd5LaneKernels(kernels, 8);
  const Verified run = VerifyListFile(read_size, capacity, kernels[count - 1]);
  // A list read to its end is read exactly to its size.
  if (run.whole == 1 && !run.failed && run.position != size - 2) abort();
  if (run.position > size - 2) abort();
  CheckTheCut(run, capacity, VerifyListFile(ListReadBufferSize, RoomyCapacity, kernels[0]));
  return 0;
}
