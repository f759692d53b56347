// The run's counts.
#include "listing/run_counts.h"

#include <cstring>

void ClearRunCounts(RunCounts* counts) {
  std::memset(counts, 0, sizeof *counts);
}

void FollowHashing(RunCounts* counts, HashQueue* queue) {
  if (counts == nullptr) return;
  counts->bytes_read = &queue->bytes_read;
  SetHashWaitHook(queue, counts->on_file, counts->watcher);
}

void EndFollowing(RunCounts* counts, HashQueue* queue) {
  if (counts == nullptr) return;
  counts->bytes_read = nullptr;
  SetHashWaitHook(queue, nullptr, nullptr);
}

void CountFile(RunCounts* counts, std::uint64_t bytes) {
  if (counts == nullptr) return;
  ++counts->files;
  counts->bytes += bytes;
  if (counts->on_file != nullptr) counts->on_file(counts->watcher);
}

void CountFailure(RunCounts* counts) {
  if (counts == nullptr) return;
  ++counts->failed;
  CountFile(counts, 0);
}

void CountUnread(RunCounts* counts, std::uint64_t listed, std::uint64_t read) {
  if (counts != nullptr && listed > read) counts->unread += listed - read;
}

void CountLeftOut(RunCounts* counts) {
  if (counts != nullptr) ++counts->left_out;
}

void CountDirectory(RunCounts* counts, const char* path) {
  if (counts == nullptr) return;
  std::strncpy(counts->directory, path, sizeof counts->directory - 1);
  counts->directory[sizeof counts->directory - 1] = '\0';
}

std::uint64_t BytesSoFar(const RunCounts& counts) {
  if (counts.bytes_read == nullptr) return counts.bytes;
  return counts.bytes_read->load(std::memory_order_relaxed);
}
