// Line building for the checksum list.
#include "listing/list_format.h"

#include <cstring>

namespace {

char* Append(char* out, const char* text) {
  const std::size_t length = std::strlen(text);
  std::memcpy(out, text, length);
  return out + length;
}

// Unsigned decimal without leading zeros.
char* AppendDecimal(char* out, std::uint64_t value) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *out++ = digits[--count];
  return out;
}

// Moves the list file's position back by length bytes and cuts the file
// there.
void TakeBackListText(HANDLE list_file, DWORD length) {
  // The distance as a signed 64-bit value in two words.
  LONG high = length == 0 ? 0 : -1;
  SetFilePointer(list_file, -static_cast<LONG>(length), &high, FILE_CURRENT);
  SetEndOfFile(list_file);
}

}  // namespace

int BuildRootLine(const char* path, char* line) {
  char* end = Append(line, RootTag);
  *end++ = '"';
  // Room for the closing quote, CR LF and the NUL.
  const char* path_end = line + LineBufferSize - 4;
  while (*path != '\0') {
    std::uint32_t code_point = 0;
    const int length = DecodeUtf8(path, &code_point);
    const int take = length != 0 ? length : 1;
    if (end + take > path_end) break;
    for (int i = 0; i < take; ++i, ++path) {
      *end++ = IsControlByte(static_cast<unsigned char>(*path)) ? '?' : *path;
    }
  }
  end = Append(end, "\"\r\n");
  *end = '\0';
  return static_cast<int>(end - line);
}

int BuildDirLine(const char* path, char* line) {
  char* end = Append(line, DirTag);
  *end++ = '"';
  end = Append(end, path);
  end = Append(end, "\"\r\n");
  *end = '\0';
  return static_cast<int>(end - line);
}

int BuildFileLine(const char* hex_digest, std::uint64_t size, const char* name,
                  char* line) {
  char* end = Append(line, FileTag);
  end = Append(end, hex_digest);
  end = Append(end, "  ");
  end = AppendDecimal(end, size);
  end = Append(end, "  \"");
  end = Append(end, name);
  end = Append(end, "\"\r\n");
  *end = '\0';
  return static_cast<int>(end - line);
}

bool WriteListText(HANDLE list_file, const char* text, int length) {
  DWORD written = 0;
  if (WriteFile(list_file, text, static_cast<DWORD>(length), &written, nullptr) &&
      written == static_cast<DWORD>(length)) {
    return true;
  }
  TakeBackListText(list_file, written);
  return false;
}

std::uint64_t ParseListedSize(const char* text, std::size_t length) {
  std::size_t at = 0;
  while (at < length && text[at] == ' ') ++at;
  std::uint64_t size = 0;
  for (; at < length && text[at] >= '0' && text[at] <= '9'; ++at) {
    const unsigned digit = static_cast<unsigned>(text[at] - '0');
    if (size > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    size = size * 10 + digit;
  }
  return size;
}
