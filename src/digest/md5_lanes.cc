// The scalar lane kernel and the choice of a kernel at start; the list of
// kernels a machine can run comes from md5_kernels_x86.cc or
// md5_kernels_generic.cc, whichever fits the processor.
#include "digest/md5_lanes.h"

#include <cstdlib>
#include <cstring>

#include "digest/md5.h"
#include "digest/md5_kernels.h"

namespace {

void Md5LanesScalar(Md5LaneStates* states,
                    const unsigned char* const blocks[Md5MaxLanes],
                    std::size_t block_count) {
  std::uint32_t state[4] = {states->a[0], states->b[0], states->c[0],
                            states->d[0]};
  for (std::size_t i = 0; i < block_count; ++i) {
    Md5Transform(state, blocks[0] + 64 * i);
  }
  states->a[0] = state[0];
  states->b[0] = state[1];
  states->c[0] = state[2];
  states->d[0] = state[3];
}

}  // namespace

const Md5LaneKernel Md5ScalarKernel = {"scalar", 1, Md5LanesScalar};

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
