// The 64 steps of MD5's compression function as one list, so that every
// lane kernel runs the same schedule with its own vector operations.
// MD5_LANE_STEPS(F, G, H, I) expands to F(a, b, c, d, word, constant,
// shift) and so on for each step of the four rounds, in order, over the
// kernel's registers a, b, c, d and its message words words[0..15].
#ifndef DORVANE_DIGEST_MD5_LANE_STEPS_H_
#define DORVANE_DIGEST_MD5_LANE_STEPS_H_

#define MD5_LANE_STEPS(F, G, H, I)                                          \
  F(a, b, c, d, 0, 0xd76aa478, 7) F(d, a, b, c, 1, 0xe8c7b756, 12)          \
  F(c, d, a, b, 2, 0x242070db, 17) F(b, c, d, a, 3, 0xc1bdceee, 22)         \
  F(a, b, c, d, 4, 0xf57c0faf, 7) F(d, a, b, c, 5, 0x4787c62a, 12)          \
  F(c, d, a, b, 6, 0xa8304613, 17) F(b, c, d, a, 7, 0xfd469501, 22)         \
  F(a, b, c, d, 8, 0x698098d8, 7) F(d, a, b, c, 9, 0x8b44f7af, 12)          \
  F(c, d, a, b, 10, 0xffff5bb1, 17) F(b, c, d, a, 11, 0x895cd7be, 22)       \
  F(a, b, c, d, 12, 0x6b901122, 7) F(d, a, b, c, 13, 0xfd987193, 12)        \
  F(c, d, a, b, 14, 0xa679438e, 17) F(b, c, d, a, 15, 0x49b40821, 22)       \
  G(a, b, c, d, 1, 0xf61e2562, 5) G(d, a, b, c, 6, 0xc040b340, 9)           \
  G(c, d, a, b, 11, 0x265e5a51, 14) G(b, c, d, a, 0, 0xe9b6c7aa, 20)        \
  G(a, b, c, d, 5, 0xd62f105d, 5) G(d, a, b, c, 10, 0x02441453, 9)          \
  G(c, d, a, b, 15, 0xd8a1e681, 14) G(b, c, d, a, 4, 0xe7d3fbc8, 20)        \
  G(a, b, c, d, 9, 0x21e1cde6, 5) G(d, a, b, c, 14, 0xc33707d6, 9)          \
  G(c, d, a, b, 3, 0xf4d50d87, 14) G(b, c, d, a, 8, 0x455a14ed, 20)         \
  G(a, b, c, d, 13, 0xa9e3e905, 5) G(d, a, b, c, 2, 0xfcefa3f8, 9)          \
  G(c, d, a, b, 7, 0x676f02d9, 14) G(b, c, d, a, 12, 0x8d2a4c8a, 20)        \
  H(a, b, c, d, 5, 0xfffa3942, 4) H(d, a, b, c, 8, 0x8771f681, 11)          \
  H(c, d, a, b, 11, 0x6d9d6122, 16) H(b, c, d, a, 14, 0xfde5380c, 23)       \
  H(a, b, c, d, 1, 0xa4beea44, 4) H(d, a, b, c, 4, 0x4bdecfa9, 11)          \
  H(c, d, a, b, 7, 0xf6bb4b60, 16) H(b, c, d, a, 10, 0xbebfbc70, 23)        \
  H(a, b, c, d, 13, 0x289b7ec6, 4) H(d, a, b, c, 0, 0xeaa127fa, 11)         \
  H(c, d, a, b, 3, 0xd4ef3085, 16) H(b, c, d, a, 6, 0x04881d05, 23)         \
  H(a, b, c, d, 9, 0xd9d4d039, 4) H(d, a, b, c, 12, 0xe6db99e5, 11)         \
  H(c, d, a, b, 15, 0x1fa27cf8, 16) H(b, c, d, a, 2, 0xc4ac5665, 23)        \
  I(a, b, c, d, 0, 0xf4292244, 6) I(d, a, b, c, 7, 0x432aff97, 10)          \
  I(c, d, a, b, 14, 0xab9423a7, 15) I(b, c, d, a, 5, 0xfc93a039, 21)        \
  I(a, b, c, d, 12, 0x655b59c3, 6) I(d, a, b, c, 3, 0x8f0ccc92, 10)         \
  I(c, d, a, b, 10, 0xffeff47d, 15) I(b, c, d, a, 1, 0x85845dd1, 21)        \
  I(a, b, c, d, 8, 0x6fa87e4f, 6) I(d, a, b, c, 15, 0xfe2ce6e0, 10)         \
  I(c, d, a, b, 6, 0xa3014314, 15) I(b, c, d, a, 13, 0x4e0811a1, 21)        \
  I(a, b, c, d, 4, 0xf7537e82, 6) I(d, a, b, c, 11, 0xbd3af235, 10)         \
  I(c, d, a, b, 2, 0x2ad7d2bb, 15) I(b, c, d, a, 9, 0xeb86d391, 21)

// The steps for kernels without a ternary logic instruction, the scalar
// core among them (md5_chains.cc), over the kernel's LANE_ADD, LANE_AND,
// LANE_ANDNOT (~x & y), LANE_OR, LANE_XOR, LANE_ROTATE and LANE_SET1 and an
// all-ones value ones. Such a kernel keeps Groups independent sets of
// registers (a[g], b[g], c[g], d[g] and words[g][0..15]) and advances all
// of them in each step: one set alone waits on the latency of its chain of
// operations and leaves the processor's other units idle. F is written as
// ((c ^ d) & b) ^ d and G as (c & ~d) + (b & d), so that few operations
// wait for b, the value just computed; the word and constant go in first,
// while the step before still runs. The loops over the
// groups (at most 4) must be unrolled, or the registers live in memory:
// -O2 alone does not unroll them.
#define MD5_LANE_GROUPS(statement) \
  _Pragma("GCC unroll 4")             \
  for (int g = 0; g < Groups; ++g) {  \
    statement                         \
  }
#define MD5_LANE_START(a, k, t) \
  (a)[g] = LANE_ADD((a)[g], LANE_ADD(words[g][k], LANE_SET1(t)));
#define MD5_LANE_FINISH(a, b, s) \
  (a)[g] = LANE_ADD(LANE_ROTATE((a)[g], (s)), (b)[g]);
#define MD5_LANE_F(a, b, c, d, k, t, s)                                     \
  MD5_LANE_GROUPS(                                                          \
      MD5_LANE_START(a, k, t)                                               \
      (a)[g] = LANE_ADD((a)[g], LANE_XOR(LANE_AND(LANE_XOR((c)[g], (d)[g]),  \
                                                  (b)[g]),                  \
                                         (d)[g]));                          \
      MD5_LANE_FINISH(a, b, s))
#define MD5_LANE_G(a, b, c, d, k, t, s)                                     \
  MD5_LANE_GROUPS(                                                          \
      MD5_LANE_START(a, k, t)                                               \
      (a)[g] = LANE_ADD((a)[g], LANE_ANDNOT((d)[g], (c)[g]));               \
      (a)[g] = LANE_ADD((a)[g], LANE_AND((b)[g], (d)[g]));                  \
      MD5_LANE_FINISH(a, b, s))
#define MD5_LANE_H(a, b, c, d, k, t, s)                                     \
  MD5_LANE_GROUPS(                                                          \
      MD5_LANE_START(a, k, t)                                               \
      (a)[g] = LANE_ADD((a)[g], LANE_XOR(LANE_XOR((c)[g], (d)[g]), (b)[g])); \
      MD5_LANE_FINISH(a, b, s))
#define MD5_LANE_I(a, b, c, d, k, t, s)                                     \
  MD5_LANE_GROUPS(                                                          \
      MD5_LANE_START(a, k, t)                                               \
      (a)[g] = LANE_ADD((a)[g], LANE_XOR((c)[g], LANE_OR((b)[g],             \
                                         LANE_XOR((d)[g], ones))));         \
      MD5_LANE_FINISH(a, b, s))

// The body of such a kernel function (see md5_lanes.h): Groups groups of
// Width lanes in registers of type Vector, with the kernel's LANE_LOAD and
// LANE_STORE for the aligned rows of Md5LaneStates and its
// LoadWords(words, blocks, offset) for the message words of Width lanes.
// The states stay in registers across the blocks.
#define MD5_LANE_KERNEL_BODY(Vector)                                         \
  std::uint32_t* const rows[4] = {states->a, states->b, states->c,           \
                                  states->d};                                \
  const Vector ones = LANE_SET1(0xFFFFFFFFu);                                \
  Vector state[4][Groups];                                                   \
  for (int w = 0; w < 4; ++w) {                                              \
    for (int g = 0; g < Groups; ++g) {                                       \
      state[w][g] = LANE_LOAD(rows[w] + Width * g);                          \
    }                                                                        \
  }                                                                          \
  for (std::size_t n = 0; n < block_count; ++n) {                            \
    Vector words[Groups][16], a[Groups], b[Groups], c[Groups], d[Groups];    \
    _Pragma("GCC unroll 4")                                                  \
    for (int g = 0; g < Groups; ++g) {                                       \
      LoadWords(words[g], blocks + Width * g, 64 * n);                       \
      a[g] = state[0][g], b[g] = state[1][g];                                \
      c[g] = state[2][g], d[g] = state[3][g];                                \
    }                                                                        \
    MD5_LANE_STEPS(MD5_LANE_F, MD5_LANE_G, MD5_LANE_H, MD5_LANE_I)           \
    _Pragma("GCC unroll 4")                                                  \
    for (int g = 0; g < Groups; ++g) {                                       \
      state[0][g] = LANE_ADD(state[0][g], a[g]);                             \
      state[1][g] = LANE_ADD(state[1][g], b[g]);                             \
      state[2][g] = LANE_ADD(state[2][g], c[g]);                             \
      state[3][g] = LANE_ADD(state[3][g], d[g]);                             \
    }                                                                        \
  }                                                                          \
  for (int w = 0; w < 4; ++w) {                                              \
    for (int g = 0; g < Groups; ++g) {                                       \
      LANE_STORE(rows[w] + Width * g, state[w][g]);                          \
    }                                                                        \
  }

#endif  // DORVANE_DIGEST_MD5_LANE_STEPS_H_
