// Finding the storage kind from a sysfs tree built like the kernel's, and
// reading only what is in memory.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "digest/hash_queue.h"
#include "platform/posix/storage_posix.h"
#include "platform/storage.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

void Put(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  WriteTextFile(file.string(), content);
}

// A device directory under root/devices and its root/dev/block link, as
// relative as the kernel's.
fs::path Device(const fs::path& root, const std::string& where, const std::string& number,
                const char* rotational) {
  const fs::path device = root / "devices" / where;
  fs::create_directories(device);
  if (rotational != nullptr) Put(device / "queue" / "rotational", rotational);
  fs::create_directories(root / "dev" / "block");
  fs::create_symlink(fs::path("../..") / "devices" / where, root / "dev" / "block" / number);
  return device;
}

void Slave(const fs::path& device, std::initializer_list<fs::path> beneath) {
  fs::create_directories(device / "slaves");
  for (const fs::path& under : beneath) fs::create_symlink(under, device / "slaves" / under.filename());
}

TEST(Storage, SysfsTreesOfStackedDevices) {
  ScopedTempDir temp;
  const fs::path root = fs::absolute("sys");
  const fs::path sda = Device(root, "pci0/block/sda", "8:0", "1\n");
  const fs::path sda1 = Device(root, "pci0/block/sda/sda1", "8:1", nullptr);
  Put(sda1 / "partition", "1\n");
  const fs::path nvme = Device(root, "pci0/block/nvme0n1", "259:0", "0\n");
  const fs::path nvme_p2 = Device(root, "pci0/block/nvme0n1/nvme0n1p2", "259:2", nullptr);
  Put(nvme_p2 / "partition", "2\n");
  Device(root, "pci0/block/sdz", "8:240", nullptr);  // no queue attribute
  // device-mapper reports its own flag, which the disks beneath overrule.
  Slave(Device(root, "virtual/block/dm-0", "254:0", "0\n"), {sda1, nvme_p2});
  Slave(Device(root, "virtual/block/dm-1", "254:1", "1\n"), {nvme_p2});
  const fs::path md0 = Device(root, "virtual/block/md0", "9:0", "0\n");
  Slave(md0, {nvme, nvme_p2});
  Slave(Device(root, "virtual/block/dm-2", "254:2", "1\n"), {md0});
  Slave(Device(root, "virtual/block/dm-3", "254:3", "0\n"), {nvme_p2, root / "devices/pci0/block/gone"});
  const fs::path loop = Device(root, "virtual/block/dm-4", "254:4", "0\n");
  Slave(loop, {loop});

  const struct { unsigned major, minor; StorageKind kind; } cases[] = {
      {8, 0, StorageRotational},    {8, 1, StorageRotational},  // disk, partition
      {259, 0, StorageSolid},       {259, 2, StorageSolid},
      {254, 0, StorageRotational},  // one of two disks spins
      {254, 1, StorageSolid},       // one solid partition beneath
      {9, 0, StorageSolid},         // md over solid disks
      {254, 2, StorageSolid},       // dm over md
      {254, 3, StorageUnknown},     // a disk beneath that is gone
      {254, 4, StorageUnknown},     // a stack that never ends
      {8, 240, StorageUnknown},     // no rotational attribute
      {7, 99, StorageUnknown},      // no such device
  };
  for (const auto& c : cases)
    EXPECT_EQ(FindDeviceStorage(root.c_str(), c.major, c.minor), c.kind) << c.major << ":" << c.minor;
  EXPECT_EQ(FindDeviceStorage("/no/such/sysfs", 8, 0), StorageUnknown);

  // File systems with a made-up device number, found by their mount source.
  fs::create_directories(root / "class" / "block");
  fs::create_symlink("../../devices/pci0/block/sda/sda1", root / "class/block/sda1");
  fs::create_symlink("../../devices/pci0/block/nvme0n1/nvme0n1p2", root / "class/block/nvme0n1p2");
  WriteTextFile("mountinfo", "29 1 0:44 / /x rw - ext4 /dev/nvme0n1p2 rw\n"
                   "30 1 0:45 / /data rw - btrfs /dev/sda1 rw\n"
                   "31 1 0:46 / /o rw shared:1 - overlay overlay rw\n"
                   "32 1 0:47 / /b rw shared:2 master:1 - btrfs /dev/nvme0n1p2 rw\n");
  const struct { unsigned major, minor; StorageKind kind; } mounts[] = {
      {0, 45, StorageRotational}, {0, 47, StorageSolid}, {0, 46, StorageUnknown}, {0, 48, StorageUnknown},
      {8, 0, StorageRotational}};
  for (const auto& m : mounts)
    EXPECT_EQ(FindMountStorage("mountinfo", root.c_str(), m.major, m.minor), m.kind) << m.minor;
}

// Read once, at start, into the plan; the tree's plan keeps it.
TEST(Storage, EnvironmentOverridesDetection) {
  ScopedTempDir temp;
  unsetenv(StorageVariable);
  const StorageKind detected = FindStorage(".");
  const struct { const char* value; StorageKind kind; } cases[] = {
      {"rotational", StorageRotational}, {"solid", StorageSolid}, {"Solid", detected}, {"", detected}};
  for (const auto& c : cases) {
    setenv(StorageVariable, c.value, 1);
    const HashPlan plan = ChooseHashPlan();
    unsetenv(StorageVariable);
    EXPECT_EQ(PlanForTree(plan).storage, c.kind) << c.value;
  }
  EXPECT_EQ(FindStorage("no-such-dir"), StorageUnknown);
}

TEST(Storage, CachedReadsGiveTheFileWhereReadFileGoesOn) {
  ScopedTempDir temp;
  const std::string content = PatternBytes(300000);
  WriteTextFile("f", content);
  HANDLE file = OpenForReading("f");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // Just written, so in memory: read at once, then read on around the
  // handle's own read-ahead.
  char buffer[100000];
  DWORD got = 0;
  EXPECT_NE(QueryCachedBytes(file, 5000), CacheNotHeld);
  const CachedRead first = ReadFileIfCached(file, buffer, 5000, &got);
  if (first == CachedReadCannotTell) GTEST_SKIP() << "no reads that refuse to wait here";
  ASSERT_EQ(first, CachedReadDone);
  EXPECT_EQ(std::string(buffer, got), content.substr(0, 5000));
  EXPECT_EQ(ReadOnce(file, 8192), content.substr(5000, 8192));
  ASSERT_EQ(ReadFileIfCached(file, buffer, sizeof buffer, &got), CachedReadDone);
  EXPECT_EQ(std::string(buffer, got), content.substr(13192, got));
  EXPECT_EQ(FilePosition(file), 13192 + got);
  CloseHandle(file);

  // Out of memory (written back, then dropped): whatever the answer, the
  // bytes given and what ReadFile reads next are the file's.
  DropCachedPages("f");
  file = OpenForReading("f");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // Asking starts no read (such a read would bring the bytes in a while).
  if (QueryCachedBytes(file, 8192) == CacheNotHeld) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(QueryCachedBytes(file, 8192), CacheNotHeld);
  }
  const CachedRead cold = ReadFileIfCached(file, buffer, 8192, &got);
  ASSERT_NE(cold, CachedReadFailed);
  if (cold != CachedReadDone) {
    EXPECT_EQ(got, 0u);
  }
  EXPECT_EQ(std::string(buffer, got), content.substr(0, got));
  EXPECT_EQ(ReadOnce(file, 400000), content.substr(got));
  EXPECT_EQ(ReadFileIfCached(file, buffer, 8192, &got), CachedReadDone);
  EXPECT_EQ(got, 0u);
  EXPECT_NE(QueryCachedBytes(file, 8192), CacheNotHeld);
  CloseHandle(file);
}

}  // namespace
