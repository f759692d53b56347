// The choice of a kernel at start; the list of kernels a machine can run
// comes from md5_kernels_x86.cc or md5_kernels_generic.cc, whichever fits
// the processor, the scalar one from md5_chains.cc.
#include "digest/md5_lanes.h"

#include <cstdlib>
#include <cstring>

#include "digest/md5_kernels.h"

const Md5LaneKernel* PickMd5LaneKernel(const char* requested,
                                       const Md5LaneKernel* const* kernels,
                                       int count) {
  for (int i = 0; requested != nullptr && i < count; ++i) {
    if (std::strcmp(requested, kernels[i]->name) == 0) return kernels[i];
  }
  return kernels[count - 1];
}

const Md5LaneKernel* ChooseMd5LaneKernel() {
  const Md5LaneKernel* kernels[Md5MaxLanes];
  const int count = UsableMd5LaneKernels(kernels, Md5MaxLanes);
  return PickMd5LaneKernel(std::getenv(Md5KernelVariable), kernels, count);
}
