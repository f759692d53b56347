// Checks a lane kernel against the scalar core, for the kernel tests.
#ifndef DORVANE_TESTS_DIGEST_MD5_LANES_CHECK_H_
#define DORVANE_TESTS_DIGEST_MD5_LANES_CHECK_H_

#include "digest/md5_lanes.h"

// Runs kernel on random states and lane data, each lane at its own
// unaligned address and its lanes past the kernel's null, at several
// block counts; expects every lane equal to Md5Transform's result and the
// lanes past the kernel's untouched.
void ExpectLanesMatchScalar(const Md5LaneKernel& kernel);

#endif  // DORVANE_TESTS_DIGEST_MD5_LANES_CHECK_H_
