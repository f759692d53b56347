// Fuzz target: ReadField and Unquote against a plain model of what they do.
//
// Input: byte 0 picks the reader's read size, byte 1 the number n of field
// capacities that follow (1 to 16), then n capacity bytes; the rest is the
// list file. Fields are read with the capacities in turn until well past the
// end of the file; each field, the count and the position must equal the
// model's, and each field unquoted must equal the model's unquoting.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "verify/field_reader.h"

namespace {

constexpr DWORD ReadSizes[] = {1, 2, 3, 7, 64, 4096, ListReadBufferSize};

struct ModelField {
  std::string text;
  std::size_t next;  // position after the field
};

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// At most capacity - 1 bytes; a control byte ends the field and is consumed;
// the limit stops without consuming; nothing at all for a capacity below 1.
ModelField ModelReadField(const std::string& file, std::size_t at, int capacity) {
  ModelField field{"", at};
  if (capacity < 1) return field;
  while (field.text.size() + 1 < static_cast<std::size_t>(capacity) && field.next < file.size()) {
    const auto byte = static_cast<unsigned char>(file[field.next++]);
    if (IsControl(byte)) break;
    field.text.push_back(static_cast<char>(byte));
  }
  return field;
}

// Trims spaces, then drops a leading quote and, if one is left, a trailing one.
std::string ModelUnquote(std::string text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  if (text[0] != '"') return text;
  text.erase(0, 1);
  if (!text.empty() && text.back() == '"') text.pop_back();
  return text;
}

// Capacities from -1 to 36, with the verifier's 1024 now and then.
int CapacityOf(std::uint8_t byte) {
  return byte >= 0xF0 ? 1024 : byte % 38 - 1;
}

// The work file's path, for its removal at exit.
char work_file[] = "/tmp/dorvane-field-fuzz-XXXXXX";

void RemoveWorkFile() { unlink(work_file); }

std::string WorkFile() {
  const int fd = mkstemp(work_file);
  if (fd < 0) abort();
  close(fd);
  std::atexit(RemoveWorkFile);
  return work_file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const std::string path = WorkFile();
  const DWORD read_size = ReadSizes[data[0] % (sizeof ReadSizes / sizeof ReadSizes[0])];
  const std::size_t count = data[1] % 16 + 1;
  if (size < 2 + count) return 0;
  std::vector<int> capacities;
  for (std::size_t i = 0; i < count; ++i) capacities.push_back(CapacityOf(data[2 + i]));
  const std::string file(reinterpret_cast<const char*>(data + 2 + count), size - 2 - count);

  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) abort();
  std::fwrite(file.data(), 1, file.size(), out);
  std::fclose(out);
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) abort();
  auto* reader = new ListReader;
  InitListReader(reader, handle, read_size);

  // Reads go on a few rounds past the end; capacities below 2 take nothing,
  // so the count of reads is bounded as well.
  std::size_t at = 0;
  std::size_t past_end = 0;
  for (std::size_t i = 0; i < 2 * file.size() + 4 * count && past_end < 2 * count; ++i) {
    if (at == file.size()) ++past_end;
    const int capacity = capacities[i % count];
    const ModelField expected = ModelReadField(file, at, capacity);
    // Exactly capacity bytes, so that a write past them is caught.
    std::vector<char> buffer(capacity > 0 ? capacity : 0);
    const int length = ReadField(reader, buffer.data(), capacity);
    if (static_cast<std::size_t>(length) != expected.text.size()) abort();
    if (capacity > 0 && std::string(buffer.data()) != expected.text) abort();
    if (reader->position != expected.next) abort();
    at = expected.next;
    if (capacity > 0) {
      Unquote(buffer.data());
      if (std::string(buffer.data()) != ModelUnquote(expected.text)) abort();
    }
  }
  if (reader->failed) abort();
  delete reader;
  CloseHandle(handle);
  return 0;
}
