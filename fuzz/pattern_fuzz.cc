// Fuzz target: MatchesPattern against fnmatch, and its separators.
//
// Input: the pattern, a NUL, the text. Where fnmatch reads what the
// patterns here do not have (escapes, classes and collating symbols in
// sets, a last set left open, bytes past ASCII, ranges that may hold a
// separator), only the separators are checked: '/' and '\' in the text match
// alike. Elsewhere the result must be fnmatch's with FNM_NOESCAPE.
#include <fnmatch.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "listing/selection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  if (split == std::string::npos) return 0;
  const std::string pattern = input.substr(0, split);
  std::string text = input.substr(split + 1);
  if (text.find('\0') != std::string::npos || pattern.size() > 64 || text.size() > 64) return 0;
  const bool matched = MatchesPattern(pattern.c_str(), text.c_str());
  std::string other = text;
  for (char& c : other) c = c == '/' ? '\\' : c == '\\' ? '/' : c;
  if (MatchesPattern(pattern.c_str(), other.c_str()) != matched) std::abort();
  // fnmatch reads bytes past ASCII by the locale; the patterns here, as
  // bytes.
  auto ascii = [](const std::string& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
  };
  const bool plain = ascii(pattern) && ascii(text) &&
                     pattern.find_first_of("\\") == std::string::npos &&
                     pattern.find("[.") == std::string::npos &&
                     pattern.find("[:") == std::string::npos &&
                     pattern.find("[=") == std::string::npos &&
                     text.find('\\') == std::string::npos &&
                     // A range holds a separator when it holds either.
                     (text.find('/') == std::string::npos ||
                      pattern.find('-') == std::string::npos) &&
                     // glibc reads a set without its ']' in ways of its own.
                     pattern.find("[]") == std::string::npos &&
                     pattern.find("[!]") == std::string::npos &&
                     pattern.find("[^]") == std::string::npos &&
                     (pattern.rfind('[') == std::string::npos ||
                      (pattern.rfind(']') != std::string::npos &&
                       pattern.rfind('[') < pattern.rfind(']')));
  if (plain && matched != (fnmatch(pattern.c_str(), text.c_str(), FNM_NOESCAPE) == 0)) std::abort();
  return 0;
}
