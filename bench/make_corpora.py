#!/usr/bin/env python3
"""Builds the benchmark trees under a directory, the same bytes every time.

  large/    1 GiB in 8 files of 128 MiB
  single/   one file of 1 GiB
  small4k/  20,000 files of 4 KiB in 200 directories (100 each)
  tiny/     50,000 files of 0-256 bytes in 250 directories (200 each)
  real/     a copy of /usr/include and /usr/share/doc (links kept as links)

Contents come from seeded generators, so two runs build identical trees;
the real tree is whatever this machine's packages installed.
"""
import os
import random
import shutil
import sys

CHUNK = 1 << 20


def write_random(path, size, rng):
    with open(path, "wb") as out:
        left = size
        while left > 0:
            take = min(CHUNK, left)
            out.write(rng.randbytes(take))
            left -= take


def make_large(root):
    rng = random.Random(1001)
    os.makedirs(root, exist_ok=True)
    for i in range(8):
        write_random(os.path.join(root, "big%d.bin" % i), 128 << 20, rng)


def make_single(root):
    rng = random.Random(1002)
    os.makedirs(root, exist_ok=True)
    write_random(os.path.join(root, "one.bin"), 1 << 30, rng)


def make_real(root):
    for source in ("/usr/include", "/usr/share/doc"):
        shutil.copytree(source, os.path.join(root, os.path.basename(source)),
                        symlinks=True)


def make_many(root, seed, directories, per_directory, size_of):
    rng = random.Random(seed)
    for d in range(directories):
        # Two levels, so the walk also descends.
        sub = os.path.join(root, "g%02d" % (d % 10), "d%03d" % d)
        os.makedirs(sub, exist_ok=True)
        for f in range(per_directory):
            with open(os.path.join(sub, "f%04d.dat" % f), "wb") as out:
                out.write(rng.randbytes(size_of(rng)))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_corpora.py DIR")
    base = sys.argv[1]
    make_large(os.path.join(base, "large"))
    make_single(os.path.join(base, "single"))
    make_many(os.path.join(base, "small4k"), 2002, 200, 100, lambda rng: 4096)
    make_many(os.path.join(base, "tiny"), 3003, 250, 200,
              lambda rng: rng.randint(0, 256))
    make_real(os.path.join(base, "real"))


if __name__ == "__main__":
    main()
