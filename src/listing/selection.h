// What a run takes of a tree or of a list: the patterns it leaves out and
// the share of the work that is its own when one tree is split over many
// processes (--exclude, --part K/N).
#ifndef DORVANE_LISTING_SELECTION_H_
#define DORVANE_LISTING_SELECTION_H_

#include <cstdint>

// The most --exclude patterns one run takes.
constexpr unsigned MaxExcludePatterns = 64;
// The most parts a tree may be split into.
constexpr unsigned MaxParts = 1000000;

struct Selection {
  const char* excludes[MaxExcludePatterns];
  unsigned exclude_count;
  unsigned part;   // 0-based: this run's share
  unsigned parts;  // 1: the whole of it
};

// No pattern, one part.
void ClearSelection(Selection* selection);

// Shell-style matching of the whole text: '*' any run of characters
// (separators too), '?' any one character, "[...]" one of a set ("[!...]"
// or "[^...]" none of it, "a-z" a range). '/' and '\' are separators
// alike and match either; there is no escape ("[*]" matches a '*').
// Characters are bytes; case counts.
bool MatchesPattern(const char* pattern, const char* text);

// A walk path (".\dir\name", a directory's with its closing backslash)
// without the leading ".\" (nor "./"), as patterns see it.
const char* PathBelowStart(const char* path);

// Whether the entry name at path (a walk path) is left out by one of the
// patterns: matched against its name and against its path below the start
// directory (a directory's without its closing backslash).
bool IsExcluded(const Selection& selection, const char* path, const char* name);

// The part, 0 to parts - 1, that a path belongs to: a hash of its bytes
// below the start directory, with '/' read as '\', so that every process
// and platform splits the same tree the same way.
unsigned PartOfPath(const char* path, unsigned parts);
// Whether path is this run's own.
bool OwnsPath(const Selection& selection, const char* path);

// Reads "K/N" (1 <= K <= N <= MaxParts, decimal digits only) into the
// 0-based part and parts; false when text is not such.
bool ParsePart(const char* text, unsigned* part, unsigned* parts);

#endif  // DORVANE_LISTING_SELECTION_H_
