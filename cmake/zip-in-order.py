# SPDX-License-Identifier: Apache-2.0
# zip-in-order.py ZIP SECONDS: writes ZIP again, its members sorted by name,
# each dated SECONDS after 1970 (UTC; no earlier than 1980, the first date a
# zip can hold) with its Unix mode and no extra fields (owner ids, times).
import os
import sys
import time
import zipfile

path, seconds = sys.argv[1], int(sys.argv[2])
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
