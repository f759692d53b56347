// The inputs of the MD5 benchmarks and their common yardstick, libcrypto's
// single-stream MD5 (MD5_Init/Update/Final).
#ifndef DORVANE_BENCH_MD5_PEER_H_
#define DORVANE_BENCH_MD5_PEER_H_

#include <benchmark/benchmark.h>
#include <openssl/md5.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// size bytes of a fixed pseudo-random sequence.
inline std::vector<unsigned char> MakeInput(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  std::uint32_t seed = 12345;
  for (auto& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(seed >> 24);
  }
  return bytes;
}

// One message of state.range(0) bytes per iteration.
inline void BM_Libcrypto(benchmark::State& state) {
  const auto input = MakeInput(static_cast<std::size_t>(state.range(0)));
  unsigned char digest[MD5_DIGEST_LENGTH];
  for (auto _ : state) {
    MD5_CTX context;
    MD5_Init(&context);
    MD5_Update(&context, input.data(), input.size());
    MD5_Final(digest, &context);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

#endif  // DORVANE_BENCH_MD5_PEER_H_
