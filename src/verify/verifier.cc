// The list verifier and the test command's report.
#include "verify/verifier.h"

#include <cstring>

#include "digest/hash_file.h"
#include "listing/list_format.h"
#include "platform/console.h"
#include "platform/file64.h"

namespace {

constexpr int TagCapacity = TagLength + 1;
constexpr int DigestCapacity = HexDigestSize;

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return *a == *b;
}

// Only a regular file is opened: opening a FIFO or a device can act.
bool IsRegularFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Reads the rest of a FILE line into path behind the directory prefix and
// checks the file. Returns 1 when it passes.
int CheckFileLine(ListReader* reader, const char* prefix, char* path) {
  std::strcpy(path, prefix);
  const int length = static_cast<int>(std::strlen(path));
  char listed[DigestCapacity];
  ReadField(reader, listed, DigestCapacity);
  StrTrimA(listed, " ");
  // The rest holds the size and the quoted name; the size and the spaces
  // around it are trimmed away before the quotes are.
  char* name = path + length;
  ReadField(reader, name, LineBufferSize - length);
  StrTrimA(name, "0123456789 ");
  Unquote(name);
  char computed[HexDigestSize];
  return IsRegularFile(path) && HashFile(path, computed) &&
         EqualsIgnoringCase(listed, computed);
}

// Appends path to the failure list if it fits; false when it does not.
bool StoreFailure(const char* path, char** end, std::size_t* room) {
  // An empty path would read as the closing entry; it stands as "".
  if (path[0] == '\0') path = "\"\"";
  const std::size_t length = std::strlen(path);
  if (length + 1 >= *room) return false;
  std::memcpy(*end, path, length + 1);
  *end += length + 1;
  *room -= length + 1;
  return true;
}

}  // namespace

int VerifyList(ListReader* reader, char* failure_list, std::size_t capacity) {
  char prefix[LineBufferSize] = "";
  char path[LineBufferSize];
  char tag[TagCapacity];
  char* end = failure_list;
  std::size_t room = capacity;
  int whole = 1;
  // Runs only while the position is below the size, so a list that shrinks
  // or fails under the reader cannot keep it going.
  while (!reader->failed && reader->position < QueryFileSize(reader->file)) {
    const std::uint64_t start = reader->position;
    ReadField(reader, tag, TagCapacity);
    if (EqualsIgnoringCase(tag, RootTag)) {
      ReadField(reader, path, LineBufferSize);
    } else if (EqualsIgnoringCase(tag, DirTag)) {
      ReadField(reader, prefix, LineBufferSize);
      Unquote(prefix);
    } else if (EqualsIgnoringCase(tag, FileTag)) {
      if (!CheckFileLine(reader, prefix, path) && !StoreFailure(path, &end, &room)) {
        whole = 0;
        break;
      }
    } else if (tag[0] != '\0') {
      ReadField(reader, path, LineBufferSize);
    }
    // Nothing taken although the size says more: the list ended early.
    if (reader->position == start) reader->failed = true;
  }
  *end = '\0';
  return whole;
}

int RunTest(HANDLE list_file) {
  ListReader reader;
  InitListReader(&reader, list_file, ListReadBufferSize);
  char failure_list[FailureListSize];
  const int whole = VerifyList(&reader, failure_list, FailureListSize);
  // A report that is lost would read as a clean pass.
  int printed = 1;
  if (failure_list[0] != '\0') {
    printed &= ConsolePrint("errors:\n");
    for (const char* entry = failure_list; *entry != '\0'; entry += std::strlen(entry) + 1) {
      printed &= ConsolePrint("%s\n", entry);
    }
    if (!whole) printed &= ConsolePrint("... and some others...\n");
  }
  if (reader.failed) ConsolePrint("cannot read file\n");
  return reader.failed || !printed ? 0 : 1;
}
