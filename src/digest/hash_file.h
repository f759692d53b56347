// MD5 of a whole file, read in fixed chunks.
#ifndef DORVANE_DIGEST_HASH_FILE_H_
#define DORVANE_DIGEST_HASH_FILE_H_

#include "digest/md5.h"

constexpr unsigned HashChunkSize = 8192;

// Hashes the file at path (relative to the current directory, backslash
// separators allowed), opened without sharing. Returns 1 with the hex digest
// in hex_text (HexDigestSize chars), or 0 with hex_text empty when the file
// cannot be opened or read to its end, or its size changed while it was read.
int HashFile(const char* path, char* hex_text);

#endif  // DORVANE_DIGEST_HASH_FILE_H_
