// Reading a checksum list field by field.
#ifndef DORVANE_VERIFY_FIELD_READER_H_
#define DORVANE_VERIFY_FIELD_READER_H_

#include <cstdint>

#include "platform/win32.h"

constexpr DWORD ListReadBufferSize = 65536;

// The list file with a read buffer of its own, so that a long list does not
// cost one system call per byte. position is the exact offset of the next
// byte a field would take, as if every byte were read on its own.
struct ListReader {
  HANDLE file;
  std::uint64_t position;
  DWORD read_size;  // bytes asked of the file per read
  DWORD begin;      // next unread byte in buffer
  DWORD end;        // bytes held in buffer
  bool failed;      // a read of the file failed
  unsigned char buffer[ListReadBufferSize];
};

// Starts reading at the file's current position, read_size bytes at a time
// (1 to ListReadBufferSize; 1 reads the file byte by byte).
void InitListReader(ListReader* reader, HANDLE file, DWORD read_size);

// Reads the next field into buffer, at most capacity - 1 bytes and a NUL;
// returns its length. A control byte (0x00-0x1F, 0x7F) ends the field and is
// consumed; a field cut at the limit leaves the next byte unread. The end of
// the file or a failed read ends the field too.
int ReadField(ListReader* reader, char* buffer, int capacity);

// Trims spaces from both ends, then removes a leading double quote and, if
// one is left at the end, the trailing one.
void Unquote(char* text);

#endif  // DORVANE_VERIFY_FIELD_READER_H_
