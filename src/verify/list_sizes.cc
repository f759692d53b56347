// A plain line scanner for the sizes of a list's FILE lines.
#include "verify/list_sizes.h"

#include <cstring>

#include "digest/md5.h"
#include "listing/list_format.h"
#include "platform/file64.h"

namespace {

bool IsFileTag(const char* line, std::size_t length) {
  if (length < static_cast<std::size_t>(TagLength)) return false;
  for (int i = 0; i < TagLength; ++i) {
    char c = line[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != FileTag[i]) return false;
  }
  return true;
}

// A line as the reader takes it: the tag, the digest field (up to its
// HexDigestSize - 1 characters or a control byte), then the size.
void ScanLine(ListSizes* sizes, const char* line, std::size_t length) {
  if (!IsFileTag(line, length)) return;
  std::size_t at = TagLength;
  const std::size_t digest_end = at + HexDigestSize - 1;
  while (at < length && at < digest_end && !IsControlByte(static_cast<unsigned char>(line[at]))) {
    ++at;
  }
  ++sizes->files;
  const std::uint64_t size = ParseListedSize(line + at, length - at);
  sizes->bytes = size > UINT64_MAX - sizes->bytes ? UINT64_MAX : sizes->bytes + size;
}

// Scans the whole lines of got bytes read at sizes->offset and moves the
// offset past them; at the end of the list the rest is a line too.
void ScanPiece(ListSizes* sizes, DWORD got, bool at_end) {
  const char* begin = sizes->buffer;
  const char* end = begin + got;
  if (sizes->in_long_line) {
    const char* line_end = static_cast<const char*>(std::memchr(begin, '\n', got));
    if (line_end == nullptr) {
      sizes->offset += got;
      return;
    }
    sizes->in_long_line = false;
    begin = line_end + 1;
  }
  for (;;) {
    const auto* line_end = static_cast<const char*>(
        std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
    if (line_end == nullptr) break;
    ScanLine(sizes, begin, static_cast<std::size_t>(line_end - begin));
    begin = line_end + 1;
  }
  if (at_end) {
    ScanLine(sizes, begin, static_cast<std::size_t>(end - begin));
    begin = end;
  } else if (begin == sizes->buffer) {
    // No line end in a whole read: no line the reader takes is this long.
    sizes->in_long_line = true;
    begin = end;
  }
  sizes->offset += static_cast<std::uint64_t>(begin - sizes->buffer);
}

}  // namespace

void StartListSizes(ListSizes* sizes, HANDLE file) {
  sizes->file = file;
  sizes->offset = 0;
  sizes->bytes = 0;
  sizes->files = 0;
  sizes->in_long_line = false;
  sizes->done = false;
}

bool ScanListSizes(ListSizes* sizes, int reads) {
  if (sizes->done) return true;
  const std::uint64_t position = QueryFilePosition(sizes->file);
  for (int i = 0; i < reads && !sizes->done; ++i) {
    DWORD got = 0;
    if (!SeekFile(sizes->file, sizes->offset) ||
        !ReadFile(sizes->file, sizes->buffer, ListScanReadSize, &got, nullptr)) {
      // A total that misses part of the list would mislead.
      sizes->bytes = sizes->files = 0;
      sizes->done = true;
      break;
    }
    sizes->done = got < ListScanReadSize;
    ScanPiece(sizes, got, sizes->done);
  }
  if (SeekFile(sizes->file, position)) return true;
  sizes->bytes = sizes->files = 0;
  sizes->done = true;
  return false;
}
