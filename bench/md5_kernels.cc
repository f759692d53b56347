// Prints the name of every MD5 lane kernel this machine can run, the scalar
// one first and the best one last, one a line: CI runs the suites under
// each, and the benchmarks name the one that ran.
#include <cstdio>

#include "digest/md5_lanes.h"

int main() {
  const Md5LaneKernel* kernels[8];
  const int count = UsableMd5LaneKernels(kernels, 8);
  for (int i = 0; i < count; ++i) std::printf("%s\n", kernels[i]->name);
  return count > 0 ? 0 : 1;
}
