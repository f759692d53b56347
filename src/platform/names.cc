// UTF-8 as the list carries names, and the byte-wise shell string services:
// a separator or a trimmed byte is never part of a multi-byte character, so
// working on bytes is right for UTF-8 (the Windows originals step through
// the ANSI code page's double-byte characters instead).
#include "platform/names.h"

#include <cstring>

int DecodeUtf8(const char* text, std::uint32_t* code_point) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  const unsigned lead = bytes[0];
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  int length = 0;
  std::uint32_t value = 0;
  std::uint32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return 0;
    value = value << 6 | (bytes[i] & 0x3F);
  }
  if (value < least || value > 0x10FFFF) return 0;
  *code_point = value;
  return length;
}

int EncodeUtf8(std::uint32_t code_point, char* out) {
  auto* bytes = reinterpret_cast<unsigned char*>(out);
  if (code_point < 0x80) {
    bytes[0] = static_cast<unsigned char>(code_point);
    return 1;
  }
  int length = code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
  static constexpr unsigned char Lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (int i = length - 1; i > 0; --i) {
    bytes[i] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
    code_point >>= 6;
  }
  bytes[0] = static_cast<unsigned char>(Lead[length] | code_point);
  return length;
}

bool IsValidUtf8(const char* text) {
  while (*text != '\0') {
    std::uint32_t code_point = 0;
    const int length = DecodeUtf8(text, &code_point);
    if (length == 0 || (code_point >= 0xD800 && code_point <= 0xDFFF)) return false;
    text += length;
  }
  return true;
}

std::size_t PathLength(const char* path) {
  std::size_t units = 0;
  while (*path != '\0') {
    std::uint32_t code_point = 0;
    const int length = DecodeUtf8(path, &code_point);
    units += length != 0 && code_point >= 0x10000 ? 2 : 1;
    path += length != 0 ? length : 1;
  }
  return units;
}

// The result must fit MAX_PATH units, as Windows' buffer.
char* PathAddBackslashA(char* path) {
  const std::size_t length = std::strlen(path);
  if (length > 0 && path[length - 1] == '\\') return path + length;
  if (PathLength(path) + 2 > MAX_PATH) return nullptr;
  path[length] = '\\';
  path[length + 1] = '\0';
  return path + length + 1;
}

BOOL StrTrimA(char* text, const char* trim) {
  const std::size_t length = std::strlen(text);
  std::size_t start = 0;
  while (start < length && std::strchr(trim, text[start]) != nullptr) ++start;
  std::size_t end = length;
  while (end > start && std::strchr(trim, text[end - 1]) != nullptr) --end;
  if (start == 0 && end == length) return FALSE;
  std::memmove(text, text + start, end - start);
  text[end - start] = '\0';
  return TRUE;
}
