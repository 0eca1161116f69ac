#!/usr/bin/python3
"""Writes a reproducible zip of one folder and its subfolders: entries sorted by path, every
time stamp the given epoch, fixed permissions, no extra fields.
usage: make_zip.py STAGE FOLDER EPOCH OUT.zip  (zips STAGE/FOLDER as FOLDER/)"""
import os
import sys
import time
import zipfile


def main():
    stage, folder, epoch, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    # Zip times are local-time fields from 1980 on; UTC keeps them the same
    # on every machine.
    stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
    root = os.path.join(stage, folder)
    names = sorted(os.path.relpath(os.path.join(d, n), root)
                   for d, dirs, files in os.walk(root) for n in dirs + files)
    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w") as archive:
        directory = zipfile.ZipInfo(folder + "/", date_time=stamp)
        directory.external_attr = (0o40755 << 16) | 0x10
        directory.create_system = 3
        archive.writestr(directory, b"")
        for name in names:
            path = os.path.join(root, name)
            if os.path.isdir(path):
                entry = zipfile.ZipInfo(folder + "/" + name + "/", date_time=stamp)
                entry.external_attr = (0o40755 << 16) | 0x10
                entry.create_system = 3
                archive.writestr(entry, b"")
                continue
            info = zipfile.ZipInfo(folder + "/" + name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            mode = 0o755 if os.access(path, os.X_OK) else 0o644
            info.external_attr = (0o100000 | mode) << 16
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
    os.replace(tmp, out)


if __name__ == "__main__":
    main()
