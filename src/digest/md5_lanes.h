// Several MD5 computations advanced together, one message per SIMD lane.
// A lane kernel runs the compression function on whole 64-byte blocks of
// every lane at once; the partial blocks and the final padding of each
// message stay with the scalar code (md5.h).
#ifndef DORVANE_DIGEST_MD5_LANES_H_
#define DORVANE_DIGEST_MD5_LANES_H_

#include <cstddef>
#include <cstdint>

constexpr int Md5MaxLanes = 16;

// The chaining words of up to Md5MaxLanes messages, one array per word:
// a[i], b[i], c[i], d[i] are lane i's A, B, C and D.
struct Md5LaneStates {
  alignas(64) std::uint32_t a[Md5MaxLanes];
  alignas(64) std::uint32_t b[Md5MaxLanes];
  alignas(64) std::uint32_t c[Md5MaxLanes];
  alignas(64) std::uint32_t d[Md5MaxLanes];
};

// Runs the compression function on block_count consecutive 64-byte blocks
// of each of the kernel's lanes: lane i reads blocks[i][0] to
// blocks[i][64 * block_count - 1]. Every lane of the kernel is computed; a
// caller with fewer messages points the idle lanes at any readable bytes of
// that length and ignores their states. block_count may be 0.
typedef void (*Md5LaneFunction)(Md5LaneStates* states,
                                const unsigned char* const blocks[Md5MaxLanes],
                                std::size_t block_count);

struct Md5LaneKernel {
  const char* name;  // "scalar", "sse2", "avx2", "avx512"
  int lanes;         // 1 to Md5MaxLanes
  Md5LaneFunction transform;
};

// The environment variable that can ask for a kernel by name.
constexpr char Md5KernelVariable[] = "DORVANE_MD5_KERNEL";

// The kernel for this run: the best one the processor and the operating
// system support, or a lower one named in DORVANE_MD5_KERNEL. A name that
// is unknown or not supported here gives the best one. Reads the
// environment and the processor on every call: call it once, at start.
const Md5LaneKernel* ChooseMd5LaneKernel();

// Fills kernels with every kernel this machine can run, the scalar one
// first and the best one last; returns how many (at most capacity).
int UsableMd5LaneKernels(const Md5LaneKernel** kernels, int capacity);

#endif  // DORVANE_DIGEST_MD5_LANES_H_
