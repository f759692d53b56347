#include "cli/thread_count.h"

#include <cstdlib>

unsigned DefaultThreadCount() {
  const char* text = std::getenv(ThreadsVariable);
  if (text == nullptr) return 1;
  unsigned count = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || count > 64) return 1;
    count = count * 10 + static_cast<unsigned>(*c - '0');
  }
  return count >= 1 && count <= 64 ? count : 1;
}
