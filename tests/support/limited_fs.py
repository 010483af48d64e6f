#!/usr/bin/python3
"""A folder mounted through FUSE with the limits some real file systems have, for the tests.

    limited_fs.py BACKING MOUNTPOINT [--name-max N] [--no-hard-links] [--log FILE]

Every operation passes through to BACKING. --name-max refuses names longer than N bytes with
ENAMETOOLONG and says N to statfs (eCryptfs takes 143); --no-hard-links refuses link() with EPERM
(FAT, exFAT, many network shares). --log writes one line per name created or renamed to
("create NAME", "rename OLD NEW"), so that a test can tell which names ever held a file. It runs
in the foreground until unmounted (fusermount -u MOUNTPOINT).
"""
import argparse
import errno
import os

from fusepy import FUSE, FuseOSError, Operations


class LimitedFs(Operations):
    def __init__(self, root, name_max, hard_links, log):
        self.root = root
        self.name_max = name_max
        self.hard_links = hard_links
        self.log = open(log, "a", buffering=1) if log else None

    def _path(self, path):
        for part in path.split("/"):
            if len(part.encode()) > self.name_max:
                raise FuseOSError(errno.ENAMETOOLONG)
        return os.path.join(self.root, path.lstrip("/"))

    def _note(self, *words):
        if self.log:
            self.log.write(" ".join(words) + "\n")

    def _call(self, function, *args):
        try:
            return function(*args)
        except OSError as error:
            raise FuseOSError(error.errno)

    def getattr(self, path, fh=None):
        st = self._call(os.lstat, self._path(path))
        keys = ("st_atime", "st_ctime", "st_gid", "st_mode", "st_mtime", "st_nlink", "st_size", "st_uid")
        return {key: getattr(st, key) for key in keys}

    def readdir(self, path, fh):
        return [".", ".."] + self._call(os.listdir, self._path(path))

    def statfs(self, path):
        st = os.statvfs(self._path(path))
        keys = ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail", "f_ffree", "f_files", "f_flag", "f_frsize")
        result = {key: getattr(st, key) for key in keys}
        result["f_namemax"] = self.name_max
        return result

    def access(self, path, mode):
        if not os.access(self._path(path), mode):
            raise FuseOSError(errno.EACCES)

    def chmod(self, path, mode):
        return self._call(os.chmod, self._path(path), mode)

    def chown(self, path, uid, gid):
        return self._call(os.chown, self._path(path), uid, gid)

    def mkdir(self, path, mode):
        return self._call(os.mkdir, self._path(path), mode)

    def rmdir(self, path):
        return self._call(os.rmdir, self._path(path))

    def unlink(self, path):
        return self._call(os.unlink, self._path(path))

    def utimens(self, path, times=None):
        return self._call(os.utime, self._path(path), times)

    def rename(self, old, new):
        self._note("rename", os.path.basename(old), os.path.basename(new))
        return self._call(os.rename, self._path(old), self._path(new))

    def link(self, target, source):
        if not self.hard_links:
            raise FuseOSError(errno.EPERM)
        return self._call(os.link, self._path(source), self._path(target))

    def create(self, path, mode, fi=None):
        full = self._path(path)
        self._note("create", os.path.basename(path))
        return self._call(os.open, full, os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)

    def open(self, path, flags):
        return self._call(os.open, self._path(path), flags & ~(os.O_CREAT | os.O_EXCL))

    def read(self, path, size, offset, fh):
        return self._call(os.pread, fh, size, offset)

    def write(self, path, data, offset, fh):
        return self._call(os.pwrite, fh, data, offset)

    def truncate(self, path, length, fh=None):
        return self._call(os.truncate, self._path(path), length)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        return self._call(os.fsync, fh)

    def release(self, path, fh):
        return self._call(os.close, fh)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("backing")
    parser.add_argument("mountpoint")
    parser.add_argument("--name-max", type=int, default=255)
    parser.add_argument("--no-hard-links", action="store_true")
    parser.add_argument("--log")
    args = parser.parse_args()
    fs = LimitedFs(os.path.abspath(args.backing), args.name_max, not args.no_hard_links, args.log)
    FUSE(fs, args.mountpoint, foreground=True, nothreads=True)


if __name__ == "__main__":
    main()
