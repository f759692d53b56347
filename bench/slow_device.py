#!/usr/bin/python3
"""A read-only view of a directory that reads like a disk with one head.

  bench/slow_device.py SOURCE MOUNTPOINT [SEEK_MS] [MB_PER_S]

Every read the kernel asks of it waits its turn behind the others (one at
a time: no parallelism) and costs its transfer at MB_PER_S (default 160),
plus a seek (SEEK_MS, default 8) unless it starts where the previous read
ended in the same file. A directory read costs a seek too.
The data is the source's own, so lists made on it check against the
source. Runs in the foreground until unmounted (fusermount -u MOUNTPOINT,
or umount as root). Needs Debian's python3-fusepy and /dev/fuse.

The file system says nothing of its kind, so dorvane starts from "unknown"
and has only the reads' times to go by.
"""
import errno
import os
import sys
import threading
import time

from fusepy import FUSE, FuseOSError, Operations


class SlowDevice(Operations):
    def __init__(self, source, seek_ms, mb_per_s):
        self.source = source
        self.seek = seek_ms / 1000.0
        self.rate = mb_per_s * 1e6
        self.head = threading.Lock()
        self.last = (None, 0)  # the file and offset the last read ended at

    def _path(self, path):
        return os.path.join(self.source, path.lstrip("/"))

    def getattr(self, path, fh=None):
        try:
            st = os.lstat(self._path(path))
        except OSError as error:
            raise FuseOSError(error.errno)
        return {key: getattr(st, key) for key in (
            "st_mode", "st_nlink", "st_size", "st_uid", "st_gid",
            "st_atime", "st_mtime", "st_ctime")}

    def readdir(self, path, fh):
        with self.head:
            time.sleep(self.seek)
            self.last = (None, 0)
        return [".", ".."] + sorted(os.listdir(self._path(path)))

    def readlink(self, path):
        return os.readlink(self._path(path))

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise FuseOSError(errno.EROFS)
        return os.open(self._path(path), os.O_RDONLY)

    def read(self, path, size, offset, fh):
        with self.head:
            data = os.pread(fh, size, offset)
            near = self.last == (path, offset)
            time.sleep((0 if near else self.seek) + len(data) / self.rate)
            self.last = (path, offset + len(data))
        return data

    def release(self, path, fh):
        os.close(fh)

    def statfs(self, path):
        st = os.statvfs(self.source)
        return {key: getattr(st, key) for key in (
            "f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail",
            "f_ffree", "f_files", "f_flag", "f_frsize", "f_namemax")}


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    seek_ms = float(sys.argv[3]) if len(sys.argv) > 3 else 8.0
    mb_per_s = float(sys.argv[4]) if len(sys.argv) > 4 else 160.0
    device = SlowDevice(os.path.realpath(sys.argv[1]), seek_ms, mb_per_s)
    # One request at a time from the kernel as well.
    FUSE(device, sys.argv[2], foreground=True, nothreads=True, ro=True)


if __name__ == "__main__":
    main()
