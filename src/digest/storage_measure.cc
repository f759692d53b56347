// Judging the storage by the run's reads.
#include "digest/storage_measure.h"

#include <algorithm>
#include <cstdio>

namespace {

// The median of the reads alone (together false) or with others in flight,
// and whether there were enough of them to judge by: MeasuredFirstReads
// first reads, or MeasuredReads of any kind. Without enough, the median is
// that of the first reads if there are any.
struct Median {
  std::uint32_t micros;  // 0 when there were no such reads
  bool enough;
};

std::uint32_t MedianOf(std::uint32_t* times, unsigned count) {
  if (count == 0) return 0;
  std::nth_element(times, times + count / 2, times + count);
  return times[count / 2];
}

Median MedianOfReads(const StorageMeasure& measure, bool together) {
  std::uint32_t firsts[2 * MeasuredReads];
  std::uint32_t all[2 * MeasuredReads];
  unsigned first_count = 0;
  unsigned all_count = 0;
  for (unsigned i = 0; i < measure.count; ++i) {
    const DiskRead& read = measure.reads[i];
    if ((read.in_flight > 1) != together) continue;
    all[all_count++] = read.micros;
    if (read.first) firsts[first_count++] = read.micros;
  }
  // A few first reads under a seek while another was in flight: a spinning
  // disk that reads the first bytes of two files at once makes one wait for
  // the other's seek (alone, it may read them fast, from its cache, when
  // the files lie one after the other), so the few files of a tree of large
  // ones need not all be read to tell.
  const bool surely_fast = together && first_count >= FewFirstReads &&
                           MedianOf(firsts, first_count) < SeekMicros;
  if (first_count >= MeasuredFirstReads) return {MedianOf(firsts, first_count), true};
  if (all_count >= MeasuredReads) return {MedianOf(all, all_count), true};
  if (first_count > 0) return {MedianOf(firsts, first_count), surely_fast};
  return {MedianOf(all, all_count), false};
}

// Two reads in flight, each about as fast as one alone: the device serves
// them side by side.
bool ServedSideBySide(std::uint32_t alone, std::uint32_t together) {
  return std::uint64_t{together} * 100 <= std::uint64_t{alone} * SideBySidePercent;
}

// The verdict on the medians given (0: none of that kind): solid when the
// reads are fast, alone or side by side, or served side by side.
StorageKind Judge(std::uint32_t alone, std::uint32_t together) {
  const bool fast = (alone != 0 && alone < SeekMicros) || (together != 0 && together < SeekMicros);
  const bool side_by_side = alone != 0 && together != 0 && ServedSideBySide(alone, together);
  return fast || side_by_side ? StorageSolid : StorageRotational;
}

}  // namespace

void StartStorageMeasure(StorageMeasure* measure, StorageKind guess) {
  measure->count = 0;
  measure->decided = false;
  measure->guess = guess;
  measure->verdict = guess;
  measure->alone_micros = measure->together_micros = 0;
  measure->most_in_flight = 0;
}

bool AddDiskRead(StorageMeasure* measure, const DiskRead& read, bool can_pair) {
  if (measure->decided) return true;
  measure->reads[measure->count++] = read;
  measure->most_in_flight = std::max<unsigned>(measure->most_in_flight, read.in_flight);
  const Median alone = MedianOfReads(*measure, false);
  const Median together = MedianOfReads(*measure, true);
  measure->alone_micros = alone.micros;
  measure->together_micros = together.micros;
  // Fast reads of either kind need no care; slow ones alone wait for as
  // many side by side where two can be in flight. A full room is judged on
  // the reads there are, of one kind only.
  const bool full = measure->count == sizeof measure->reads / sizeof measure->reads[0];
  if ((alone.enough && alone.micros < SeekMicros) ||
      (together.enough && together.micros < SeekMicros) ||
      (alone.enough && (together.enough || !can_pair)) || full) {
    measure->verdict = Judge(alone.enough || full ? alone.micros : 0,
                             together.enough || full ? together.micros : 0);
    measure->decided = true;
  }
  return measure->decided;
}

const char* StorageKindName(StorageKind kind) {
  switch (kind) {
    case StorageRotational: return "rotational";
    case StorageSolid: return "solid";
    default: return "unknown";
  }
}

std::size_t DescribeStorageMeasure(const StorageMeasure& measure, bool forced, char* text,
                                   std::size_t size) {
  const char* kind = StorageKindName(measure.verdict);
  char guess[40];
  if (measure.guess == StorageUnknown) {
    std::snprintf(guess, sizeof guess, "the system does not say");
  } else {
    std::snprintf(guess, sizeof guess, "the system says %s", StorageKindName(measure.guess));
  }
  int length = 0;
  if (forced) {
    length = std::snprintf(text, size, "%s (DORVANE_STORAGE)", kind);
  } else if (!measure.decided) {
    // The run ended while it measured, every lane reading as it came.
    length = std::snprintf(text, size, "not judged (%s; %u read%s waited for the device, too "
                           "few to judge by)", guess, measure.count, measure.count == 1 ? "" : "s");
  } else {
    char alone[48] = "";
    char together[48] = "";
    if (measure.alone_micros != 0) {
      std::snprintf(alone, sizeof alone, " %.2f ms alone", measure.alone_micros / 1000.0);
    }
    if (measure.together_micros != 0) {
      std::snprintf(together, sizeof together, "%s %.2f ms with up to %u in flight",
                    alone[0] != '\0' ? "," : "", measure.together_micros / 1000.0,
                    measure.most_in_flight);
    }
    length = std::snprintf(text, size, "%s (%s; measured reads of%s%s)", kind, guess, alone,
                           together);
  }
  if (length < 0) length = 0;
  if (static_cast<std::size_t>(length) < size) return static_cast<std::size_t>(length);
  return size > 0 ? size - 1 : 0;
}
