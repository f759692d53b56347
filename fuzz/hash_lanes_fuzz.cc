// Fuzz target: the lane hasher gives every file the one-call digest of its
// bytes, whatever the kernel or number of lanes, the files' lengths, and
// where results are taken between queueing and hashing steps.
//
// Input: byte 0 picks the kernel: one this machine can run, or the scalar
// transform in 1 to 16 lanes. Then up to 24 files of 3 bytes each: a length
// of up to 512 KiB, so that lengths cross the blocks, the chunks and the
// read-ahead (the first two bytes, and the third's bits 0-2 above them),
// whether its type is checked first (bit 3), and what to do after queueing
// it (bits 4-7: up to 5 nothing, up to 9 take the oldest result, above run
// that many less 9 hashing steps). A file's bytes repeat the input.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "digest/hash_queue.h"
#include "digest/md5_chains.h"
#include "digest/scalar_lanes.h"

namespace {

const Md5LaneKernel* PickKernel(std::uint8_t byte) {
  const Md5LaneKernel* usable[8];
  const int count = UsableMd5LaneKernels(usable, 8);
  if (byte % 2 == 0) return usable[(byte / 2) % count];
  return &ScalarLaneKernels[(byte / 2) % Md5MaxLanes];
}

// The last byte picks, bit by bit, the busy lane counts that go through
// the scalar chains.
LaneSplit PickSplit(std::uint8_t byte) {
  LaneSplit split = {};
  for (int k = 1; k <= Md5MaxLanes; ++k) {
    if ((byte >> (k % 8)) & 1) split.first[k] = static_cast<unsigned char>(k < Md5MaxChains ? k : Md5MaxChains);
  }
  return split;
}

char work[] = "/tmp/dorvane-lanes-fuzz-XXXXXX";

void RemoveWork() {
  std::error_code ignored;
  std::filesystem::remove_all(work, ignored);
}

std::string HexOf(const std::string& bytes) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, reinterpret_cast<const unsigned char*>(bytes.data()),
            static_cast<std::uint32_t>(bytes.size()));
  unsigned char digest[Md5DigestSize];
  Md5Final(digest, &context);
  char hex[HexDigestSize];
  DigestToHex(digest, hex);
  return hex;
}

struct Expected {
  std::string path;
  std::string hex;
  std::uint64_t size;
};

void CheckOldest(HashQueue* hasher, std::vector<Expected>* waiting, std::size_t* next) {
  HashResult result;
  TakeHashResult(hasher, &result);
  const Expected& expected = (*waiting)[(*next)++];
  if (!result.ok || expected.path != result.path || expected.hex != result.hex ||
      expected.size != result.hashed_size) {
    std::fprintf(stderr, "%s: %s %llu, expected %s %llu\n", expected.path.c_str(), result.hex,
                 static_cast<unsigned long long>(result.hashed_size), expected.hex.c_str(),
                 static_cast<unsigned long long>(expected.size));
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (mkdtemp(work) == nullptr) abort();
  std::atexit(RemoveWork);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  // The top bit of the first byte asks for two workers beside this thread.
  HashQueue* hasher = StartHashQueue(
      HashPlan{PickKernel(data[0]), data[0] & 0x80 ? 2u : 1u, StorageUnknown, PickSplit(data[size - 1])});
  const bool inline_steps = (data[0] & 0x80) == 0;
  std::vector<Expected> waiting;
  std::size_t next = 0;
  // Up to about 300 KiB a run, to keep the runs quick.
  std::size_t total = 0;
  for (std::size_t at = 1; at + 3 <= size && waiting.size() < 24 && total < 300000;
       at += 3) {
    const std::size_t length =
        data[at] | std::size_t{data[at + 1]} << 8 | std::size_t{data[at + 2] & 7u} << 16;
    total += length;
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(data[(at + i) % size]);
    const std::string path = std::string(work) + "/f" + std::to_string(waiting.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, length, out) != length) abort();
    std::fclose(out);
    if (HashQueueFull(hasher)) CheckOldest(hasher, &waiting, &next);
    QueueFileToHash(hasher, path.c_str(), 0, HashNote{});
    waiting.push_back({path, HexOf(bytes), length});
    const int action = data[at + 2] >> 4;
    if (action >= 6 && action <= 9) CheckOldest(hasher, &waiting, &next);
    for (int steps = action - 9; inline_steps && steps > 0; --steps) AdvanceHashing(hasher);
  }
  while (next < waiting.size()) CheckOldest(hasher, &waiting, &next);
  if (!HashQueueEmpty(hasher) || (inline_steps && AdvanceHashing(hasher))) abort();
  EndHashQueue(hasher);
  return 0;
}
