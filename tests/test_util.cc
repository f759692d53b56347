// Helpers for tests that work the same on every platform.
#include "test_util.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/win32.h"

void WriteTextFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << path;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void MakeDirectory(const std::string& path) {
  std::filesystem::create_directories(path);
}

void ChangeDirectory(const std::string& path) {
  std::filesystem::current_path(path);
}

void RemoveFile(const std::string& path) {
  ASSERT_TRUE(std::filesystem::remove(path)) << path;
}

std::string PatternBytes(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

std::string FullPathOf(const std::string& name) {
  char buffer[MAX_PATH];
  const DWORD length = GetFullPathNameA(name.c_str(), MAX_PATH, buffer, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(buffer) : std::string();
}
