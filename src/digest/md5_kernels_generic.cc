// The kernel list on processors without lane kernels: the scalar one.
#include "digest/md5_kernels.h"

int UsableMd5LaneKernels(const Md5LaneKernel** kernels, int capacity) {
  if (capacity < 1) return 0;
  kernels[0] = &Md5ScalarKernel;
  return 1;
}
