# SPDX-License-Identifier: Apache-2.0
# normalize-package.py PACKAGE SECONDS
# A .zip is written again, its members sorted by name, each dated SECONDS
# after 1970 (UTC; no earlier than 1980, the first date a zip can hold) with
# its Unix mode and no extra fields (owner ids, times). A .deb's ar members
# (debian-binary, control.tar.*, data.tar.*) are given mode 0644, as
# dpkg-deb writes them.
import os
import sys
import time
import zipfile


def normalize_zip(path, seconds):
    date = time.gmtime(max(seconds, 315532800))[:6]
    with zipfile.ZipFile(path) as old:
        members = [(m, old.read(m)) for m in sorted(old.infolist(), key=lambda m: m.filename)]
    with zipfile.ZipFile(path + ".new", "w") as new:
        for old_member, data in members:
            member = zipfile.ZipInfo(old_member.filename, date)
            member.create_system = 3  # Unix: the mode below is read on unpacking
            member.external_attr = old_member.external_attr
            if not member.is_dir():
                member.compress_type = zipfile.ZIP_DEFLATED
            new.writestr(member, data, compresslevel=9)
    os.replace(path + ".new", path)


def normalize_deb(path):
    with open(path, "r+b") as deb:
        data = bytearray(deb.read())
        if not data.startswith(b"!<arch>\n"):
            sys.exit(f"{path}: not an ar archive")
        at = 8
        while at + 60 <= len(data):
            data[at + 40:at + 48] = b"100644  "  # the header's mode field
            size = int(data[at + 48:at + 58])
            at += 60 + size + (size & 1)
        deb.seek(0)
        deb.write(data)


path, seconds = sys.argv[1], int(sys.argv[2])
if path.endswith(".zip"):
    normalize_zip(path, seconds)
elif path.endswith(".deb"):
    normalize_deb(path)
