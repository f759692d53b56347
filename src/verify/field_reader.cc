// Field reader over a buffered checksum list.
#include "verify/field_reader.h"

#include <cstring>

#include "listing/list_format.h"
#include "platform/file64.h"

namespace {

// Takes the next byte; false at the end of the file or after a failed read.
bool NextByte(ListReader* reader, unsigned char* byte) {
  if (reader->begin == reader->end) {
    if (reader->failed) return false;
    DWORD got = 0;
    if (!ReadFile(reader->file, reader->buffer, reader->read_size, &got, nullptr)) {
      reader->failed = true;
      return false;
    }
    if (got == 0) return false;
    reader->begin = 0;
    reader->end = got;
  }
  *byte = reader->buffer[reader->begin++];
  ++reader->position;
  return true;
}

}  // namespace

void InitListReader(ListReader* reader, HANDLE file, DWORD read_size) {
  reader->file = file;
  reader->position = QueryFilePosition(file);
  reader->read_size = read_size < 1 ? 1 : read_size > ListReadBufferSize ? ListReadBufferSize : read_size;
  reader->begin = 0;
  reader->end = 0;
  reader->failed = false;
}

int ReadField(ListReader* reader, char* buffer, int capacity) {
  if (capacity < 1) return 0;
  int count = 0;
  unsigned char byte;
  // The limit is checked first, so a field cut at it takes no extra byte.
  while (count < capacity - 1 && NextByte(reader, &byte)) {
    if (IsControlByte(byte)) break;
    buffer[count++] = static_cast<char>(byte);
  }
  buffer[count] = '\0';
  return count;
}

void Unquote(char* text) {
  StrTrimA(text, " ");
  if (text[0] != '"') return;
  const std::size_t length = std::strlen(text);
  std::memmove(text, text + 1, length);
  if (length > 1 && text[length - 2] == '"') text[length - 2] = '\0';
}
