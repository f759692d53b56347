// Checks on list text written by the program, for the fault tests.
#include "faults/list_check.h"

#include <cstddef>

namespace {

bool HasControlByte(const std::string& text) {
  for (unsigned char byte : text) {
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

bool IsQuoted(const std::string& text) {
  return text.size() >= 2 && text.front() == '"' && text.back() == '"';
}

bool IsUpperHex(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

bool IsDecimal(const std::string& text) {
  if (text.empty() || text.size() > 20 || (text[0] == '0' && text.size() > 1)) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "FILE: " digest "  " size "  " quoted name.
bool ParseFileLine(const std::string& line, ListedFile* file) {
  if (line.compare(0, 6, "FILE: ") != 0 || line.size() < 6 + 32 + 2) return false;
  file->digest = line.substr(6, 32);
  if (!IsUpperHex(file->digest) || line.compare(38, 2, "  ") != 0) return false;
  const std::size_t size_end = line.find("  ", 40);
  if (size_end == std::string::npos || !IsDecimal(line.substr(40, size_end - 40))) return false;
  file->size = std::stoull(line.substr(40, size_end - 40));
  const std::string quoted = line.substr(size_end + 2);
  if (!IsQuoted(quoted)) return false;
  file->name = quoted.substr(1, quoted.size() - 2);
  return !file->name.empty();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

}  // namespace

std::string ListFault(const std::string& text) {
  if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)) {
    return "last line without CR LF";
  }
  const std::vector<std::string> lines = SplitLines(text);
  std::string previous;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::string where = "line " + std::to_string(i + 1) + ": ";
    if (HasControlByte(line)) return where + "control byte";
    const std::string tag = line.substr(0, 6);
    const std::string rest = line.size() > 6 ? line.substr(6) : "";
    ListedFile file;
    if (tag == "ROOT: ") {
      if (!IsQuoted(rest)) return where + "bad ROOT line";
    } else if (tag == "DIR:  ") {
      if (!IsQuoted(rest) || rest.compare(0, 3, "\".\\") != 0 ||
          rest.compare(rest.size() - 2, 2, "\\\"") != 0) {
        return where + "bad DIR line";
      }
      if (previous == "ROOT: " && rest != "\".\\\"") return where + "section without .\\";
    } else if (tag == "FILE: ") {
      if (!ParseFileLine(line, &file)) return where + "bad FILE line";
      if (previous == "ROOT: ") return where + "FILE line before DIR line";
    } else {
      return where + "unknown line";
    }
    if (i == 0 && tag != "ROOT: ") return where + "list does not start with ROOT";
    previous = tag;
  }
  return "";
}

std::vector<ListedFile> ListedFiles(const std::string& text) {
  std::vector<ListedFile> files;
  std::string directory;
  for (const std::string& line : SplitLines(text)) {
    if (line.compare(0, 6, "DIR:  ") == 0) directory = line.substr(7, line.size() - 8);
    ListedFile file;
    if (ParseFileLine(line, &file)) {
      file.directory = directory;
      files.push_back(file);
    }
  }
  return files;
}
