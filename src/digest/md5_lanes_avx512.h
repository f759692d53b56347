// The parts of the 16-lane AVX-512F kernel that a variant of it can share:
// the steps, the compression of one block of every lane, and the states'
// loads and stores.
#ifndef DORVANE_DIGEST_MD5_LANES_AVX512_H_
#define DORVANE_DIGEST_MD5_LANES_AVX512_H_

#include <immintrin.h>

#include "digest/md5_lane_steps.h"
#include "digest/md5_lanes.h"

// Each round function as a ternary logic table over (b, c, d): F picks c
// where b is set and d elsewhere; G picks b where d is set and c
// elsewhere; H is the parity; I is c ^ (b | ~d).
#define AVX512_STEP(a, b, c, d, k, t, s, table)                                \
  (a) = _mm512_add_epi32(                                                      \
      (a), _mm512_add_epi32(words[k], _mm512_set1_epi32(static_cast<int>(t)))); \
  (a) = _mm512_add_epi32((a), _mm512_ternarylogic_epi32((b), (c), (d), table)); \
  (a) = _mm512_add_epi32(_mm512_rol_epi32((a), (s)), (b));
#define AVX512_F(a, b, c, d, k, t, s) AVX512_STEP(a, b, c, d, k, t, s, 0xCA)
#define AVX512_G(a, b, c, d, k, t, s) AVX512_STEP(a, b, c, d, k, t, s, 0xE4)
#define AVX512_H(a, b, c, d, k, t, s) AVX512_STEP(a, b, c, d, k, t, s, 0x96)
#define AVX512_I(a, b, c, d, k, t, s) AVX512_STEP(a, b, c, d, k, t, s, 0x39)

// The compression function on one block of every lane.
inline __attribute__((target("avx512f"))) void Compress(__m512i state[4],
                                                 const __m512i words[16]) {
  __m512i a = state[0], b = state[1], c = state[2], d = state[3];
  MD5_LANE_STEPS(AVX512_F, AVX512_G, AVX512_H, AVX512_I)
  state[0] = _mm512_add_epi32(state[0], a);
  state[1] = _mm512_add_epi32(state[1], b);
  state[2] = _mm512_add_epi32(state[2], c);
  state[3] = _mm512_add_epi32(state[3], d);
}

inline __attribute__((target("avx512f"))) void LoadStates(const Md5LaneStates* states,
                                                   __m512i state[4]) {
  state[0] = _mm512_load_si512(states->a);
  state[1] = _mm512_load_si512(states->b);
  state[2] = _mm512_load_si512(states->c);
  state[3] = _mm512_load_si512(states->d);
}

inline __attribute__((target("avx512f"))) void StoreStates(const __m512i state[4],
                                                    Md5LaneStates* states) {
  _mm512_store_si512(states->a, state[0]);
  _mm512_store_si512(states->b, state[1]);
  _mm512_store_si512(states->c, state[2]);
  _mm512_store_si512(states->d, state[3]);
}

#endif  // DORVANE_DIGEST_MD5_LANES_AVX512_H_
