// The checksum list: its tags, and the lines the listing writes.
//
//   ROOT: "<absolute path of the start directory>"
//   DIR:  ".\sub\"
//   FILE: <32 uppercase hex digits>  <size>  "<name>"
//
// Every line ends with CR LF; DIR paths are relative to the start directory
// and use backslashes; a FILE line names a file of the DIR line above it.
#ifndef DORVANE_LISTING_LIST_FORMAT_H_
#define DORVANE_LISTING_LIST_FORMAT_H_

#include <cstdint>

#include "platform/names.h"
#include "platform/win32.h"

constexpr char RootTag[] = "ROOT: ";
constexpr char DirTag[] = "DIR:  ";
constexpr char FileTag[] = "FILE: ";
constexpr int TagLength = 6;

// The walk's path buffer; relative paths in it are at most MaxPathLength
// (259) characters as Windows counts them, UTF-16 units (PathLength), which
// may take up to three times as many bytes.
constexpr int PathBufferSize = PathByteSize;
// Work buffers for lines, patterns and paths.
constexpr int LineBufferSize = 1024;
// A line holds its tag, the longest path quoted, CR LF and a NUL.
static_assert(LineBufferSize >= TagLength + PathBufferSize + 4);

// A control byte ends a field when the list is read back: a name holding
// one would be read as two, the rest as a line of its own.
inline bool IsControlByte(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// Builds `ROOT: "<path>"` CR LF into line (LineBufferSize); returns its
// length. Each control byte of path is written as '?', and path is cut so
// that the line fits LineBufferSize - 1 bytes, between two characters of
// UTF-8 (or two bytes that are no UTF-8): what follows the tag
// then fits the reader's field, and no part of the path can be read as a
// line of its own. The ROOT line is only informational, so nothing depends
// on the text cut away.
int BuildRootLine(const char* path, char* line);
// Builds `DIR:  "<path>"` CR LF into line (LineBufferSize); returns its
// length. path is at most PathBufferSize - 1 bytes.
int BuildDirLine(const char* path, char* line);
// Builds the FILE line for a hashed file into line (LineBufferSize); returns
// its length. name is at most PathBufferSize - 1 bytes.
int BuildFileLine(const char* hex_digest, std::uint64_t size, const char* name,
                  char* line);
// The size a FILE line gives in the text after its digest: the digits
// after the spaces that lead it (0 when there are none; a value too large
// for 64 bits stays at the largest). Reads at most length bytes.
std::uint64_t ParseListedSize(const char* text, std::size_t length);
// Writes length bytes at the list file's position; true when all went out.
// When the write fails or falls short, the part that went out is taken back
// and the list cut there, so that it ends with the last whole line written
// before, and no older line survives behind it; false.
[[nodiscard]] bool WriteListText(HANDLE list_file, const char* text, int length);

#endif  // DORVANE_LISTING_LIST_FORMAT_H_
