// Patterns and parts.
#include "listing/selection.h"

#include <cstring>

#include "listing/list_format.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool SameCharacter(char pattern, char text) {
  return pattern == text || (IsSeparator(pattern) && IsSeparator(text));
}

// Matches the set that begins after '[' against c. *end is set past the
// closing ']'; a set without one is no set, and '[' then matches itself.
bool MatchesSet(const char* set, char c, const char** end, bool* is_set) {
  const char* at = set;
  const bool negated = *at == '!' || *at == '^';
  if (negated) ++at;
  bool found = false;
  // A ']' first in the set is one of its members.
  bool first = true;
  for (; *at != '\0' && (first || *at != ']'); ++at, first = false) {
    if (at[1] == '-' && at[2] != '\0' && at[2] != ']') {
      const auto low = static_cast<unsigned char>(at[0]);
      const auto high = static_cast<unsigned char>(at[2]);
      auto within = [&](char byte) {
        return static_cast<unsigned char>(byte) >= low && static_cast<unsigned char>(byte) <= high;
      };
      // A separator is either one, in a range too.
      found = found || within(c) || (IsSeparator(c) && (within('/') || within('\\')));
      at += 2;
    } else {
      found = found || SameCharacter(*at, c);
    }
  }
  *is_set = *at == ']';
  *end = *is_set ? at + 1 : set;
  return found != negated;
}

std::uint64_t HashPath(const char* path) {
  // FNV-1a: stable, and the same on every platform.
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const char* at = PathBelowStart(path); *at != '\0'; ++at) {
    const char c = *at == '/' ? '\\' : *at;
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  }
  return hash;
}

}  // namespace

void ClearSelection(Selection* selection) {
  selection->exclude_count = 0;
  selection->part = 0;
  selection->parts = 1;
}

bool MatchesPattern(const char* pattern, const char* text) {
  // The last '*' met and the text it has taken so far: on a mismatch it
  // takes one more character and the match goes on from there.
  const char* star = nullptr;
  const char* star_text = nullptr;
  while (*text != '\0') {
    const char* next = pattern + 1;
    bool matched = false;
    if (*pattern == '*') {
      star = pattern++;
      star_text = text;
      continue;
    }
    if (*pattern == '?') {
      matched = true;
    } else if (*pattern == '[') {
      bool is_set = false;
      matched = MatchesSet(pattern + 1, *text, &next, &is_set);
      if (!is_set) {
        matched = *text == '[';
        next = pattern + 1;
      }
    } else {
      matched = *pattern != '\0' && SameCharacter(*pattern, *text);
    }
    if (matched) {
      pattern = next;
      ++text;
    } else if (star != nullptr) {
      pattern = star + 1;
      text = ++star_text;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

const char* PathBelowStart(const char* path) {
  while (path[0] == '.' && IsSeparator(path[1])) path += 2;
  return path;
}

bool IsExcluded(const Selection& selection, const char* path, const char* name) {
  if (selection.exclude_count == 0) return false;
  char below[LineBufferSize * 2];
  const char* relative = PathBelowStart(path);
  std::size_t length = std::strlen(relative);
  if (length >= sizeof below) length = sizeof below - 1;
  std::memcpy(below, relative, length);
  // A directory is matched without its closing separator.
  while (length > 0 && IsSeparator(below[length - 1])) --length;
  below[length] = '\0';
  for (unsigned i = 0; i < selection.exclude_count; ++i) {
    const char* pattern = selection.excludes[i];
    if (MatchesPattern(pattern, name) || MatchesPattern(pattern, below)) return true;
  }
  return false;
}

unsigned PartOfPath(const char* path, unsigned parts) {
  return parts <= 1 ? 0 : static_cast<unsigned>(HashPath(path) % parts);
}

bool OwnsPath(const Selection& selection, const char* path) {
  return PartOfPath(path, selection.parts) == selection.part;
}

bool ParsePart(const char* text, unsigned* part, unsigned* parts) {
  unsigned values[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    if (*text < '0' || *text > '9') return false;
    for (; *text >= '0' && *text <= '9'; ++text) {
      values[i] = values[i] * 10 + static_cast<unsigned>(*text - '0');
      if (values[i] > MaxParts) return false;
    }
    if (i == 0 && *text++ != '/') return false;
  }
  if (*text != '\0' || values[0] == 0 || values[0] > values[1]) return false;
  *part = values[0] - 1;
  *parts = values[1];
  return true;
}
