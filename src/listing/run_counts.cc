// The run's counts.
#include "listing/run_counts.h"

#include <cstring>

void ClearRunCounts(RunCounts* counts) {
  std::memset(counts, 0, sizeof *counts);
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

void CountLeftOut(RunCounts* counts) {
  if (counts != nullptr) ++counts->left_out;
}

void CountDirectory(RunCounts* counts, const char* path) {
  if (counts == nullptr) return;
  std::strncpy(counts->directory, path, sizeof counts->directory - 1);
  counts->directory[sizeof counts->directory - 1] = '\0';
}
