// The hashing queue against HashFile: every file gets HashFile's result, in
// the order it was queued, whatever the kernel, its number of lanes, the
// scalar chains taking few busy lanes or not, and the number of threads.
#include "digest/hash_queue.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "digest/file_feeder.h"
#include "digest/md5_chains.h"
#include "test_util.h"

namespace {

// "f" and a number, the name of one of the files made here.
std::string FileName(std::size_t number) {
  std::string name = "f";
  return name.append(std::to_string(number));
}

// HashFile's result, or the hasher's, as one text.
std::string ResultText(bool ok, const char* hex, std::uint64_t size) {
  return (ok ? "" : "failed:") + std::string(hex) + " " + std::to_string(size);
}

std::string HashFileResult(const std::string& path) {
  char hex[HexDigestSize];
  std::uint64_t size = 99;
  const int ok = HashFile(path.c_str(), hex, &size);
  return ResultText(ok == 1, hex, size);
}

// Files around MD5's block and the chunk read at once, each of its own
// bytes, a larger one, and names that cannot be hashed.
std::vector<std::string> MakeFiles(std::vector<std::unique_ptr<HeldFile>>* held) {
  std::vector<std::string> paths;
  for (std::size_t size : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 8191u, 8192u,
                           8193u, 131071u, 131072u, 131073u}) {
    paths.push_back(FileName(size));
    WriteTextFile(paths.back(), PatternBytes(size + 1).substr(1));
  }
  MakeDirectory("sub");
  paths.push_back(".\\sub\\large");
  WriteTextFile("sub/large", PatternBytes((3u << 20) + 17));
  paths.push_back("missing");
  paths.push_back("sub");
  paths.push_back("held");
  WriteTextFile("held", "abc");
  held->push_back(std::make_unique<HeldFile>("held"));
  return paths;
}

TEST(LaneHasher, GivesEachFileHashFilesResultInTheOrderQueued) {
  ScopedTempDir temp;
  std::vector<std::unique_ptr<HeldFile>> held;
  const std::vector<std::string> paths = MakeFiles(&held);
  ASSERT_TRUE(held.back()->held());
  std::vector<std::string> expected;
  for (const std::string& path : paths) expected.push_back(HashFileResult(path));

  // Every file once, then the small ones over and over in a shifting order,
  // past the queue's size, taking results as the queue fills.
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < paths.size(); ++i) order.push_back(i);
  for (std::size_t n = 0; n < HashQueueSize + 50; ++n) order.push_back(n * 7 % 15);
  // On a rotational disk the files' pages are dropped first, so that reads
  // wait for the disk's turn and files are claimed in place order; the last
  // runs measure the storage too, and may change how they read part way.
  const StorageKind storages[] = {StorageUnknown, StorageRotational, StorageRotational};
  for (const Md5LaneKernel* kernel : KernelsToTry()) {
    for (unsigned run = 0; run < 9; ++run) {
      const unsigned threads = 1 + run % 3;
      const StorageKind storage = storages[run / 3];
      if (storage == StorageRotational) {
        for (const std::string& path : paths) DropCachedPages(path);
      }
      // Every other run sends every busy lane it can through the chains.
      LaneSplit split = {};
      for (int k = 1; run % 2 == 1 && k <= Md5MaxLanes; ++k) {
        split.first[k] = static_cast<unsigned char>(k < Md5MaxChains ? k : Md5MaxChains - k % 2);
      }
      HashPlan plan{kernel, threads, storage, split};
      plan.measure_storage = run >= 6;
      HashQueue* queue = StartHashQueue(plan);
      std::deque<std::size_t> waiting;
      const auto take_oldest = [&] {
        HashResult result;
        TakeHashResult(queue, &result);
        const std::size_t i = waiting.front();
        waiting.pop_front();
        EXPECT_EQ(result.path, paths[i]) << kernel->name;
        EXPECT_EQ(result.note->size, i) << kernel->name;
        EXPECT_EQ(ResultText(result.ok, result.hex, result.hashed_size), expected[i])
            << paths[i] << ", " << kernel->name << ", " << threads << ", " << storage;
      };
      for (std::size_t n = 0; n < order.size(); ++n) {
        if (HashQueueFull(queue)) take_oldest();
        HashNote note = {};
        note.size = order[n];
        QueueFileToHash(queue, paths[order[n]].c_str(), 0, note);
        waiting.push_back(order[n]);
      }
      while (!HashQueueEmpty(queue)) take_oldest();
      EndHashQueue(queue);
    }
  }
}

// A run that stops early closes what it holds: the files can be held
// exclusively again at once.
TEST(LaneHasher, StopClosesEveryFileStillOpen) {
  ScopedTempDir temp;
  for (const Md5LaneKernel* kernel : KernelsToTry()) {
    HashQueue* queue = StartHashQueue(HashPlan{kernel, 1, StorageUnknown, {}});
    for (int i = 0; i < Md5MaxLanes; ++i) {
      WriteTextFile(FileName(i), PatternBytes(4 * FeedReadSize));
      QueueFileToHash(queue, FileName(i).c_str(), 0, HashNote{});
    }
    EXPECT_TRUE(AdvanceHashing(queue));
    EndHashQueue(queue);
    for (int i = 0; i < Md5MaxLanes; ++i) {
      EXPECT_TRUE(HeldFile(FileName(i)).held()) << i << ", " << kernel->name;
    }
  }
}

}  // namespace

// A path longer than the queue holds is refused unopened, not cut: cut, it
// names another file here.
TEST(LaneHasher, APathTooLongForTheQueueFailsUnopened) {
  ScopedTempDir temp;
  std::string cut;
  while (cut.size() + 201 < HashPathSize - 1) {
    cut += std::string(200, 'd');
    MakeDirectory(cut);
    cut += '/';
  }
  cut.resize(HashPathSize - 1, 'f');
  WriteTextFile(cut, "x");
  HashQueue* queue = StartHashQueue(HashPlan{KernelsToTry()[0], 1, StorageUnknown, {}});
  QueueFileToHash(queue, (cut + "g").c_str(), 0, HashNote{});
  HashResult result;
  TakeHashResult(queue, &result);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.failure, HashFailure::Open);
  EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EndHashQueue(queue);
}
