# SPDX-License-Identifier: Apache-2.0
# compare_packages.py A B: exit status 0 when the two packages (.deb or .zip)
# are the same bytes; else 1, and the members that differ, and how: inside a
# .deb, the members of its control and data archives too.
import hashlib
import io
import sys
import tarfile
import zipfile


def ar_members(data):
    """The members of an ar archive (a .deb), by name, in order."""
    if not data.startswith(b"!<arch>\n"):
        raise ValueError("not an ar archive")
    members, at = {}, 8
    while at + 60 <= len(data):
        header = data[at:at + 60]
        name = header[:16].decode().strip().rstrip("/")
        size = int(header[48:58])
        members[name] = (header, data[at + 60:at + 60 + size])
        at += 60 + size + (size & 1)
    return members


def tar_members(data):
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        return {m.name: (m, tar.extractfile(m).read() if m.isfile() else b"") for m in tar}


def describe_tar(member):
    m, content = member
    return {"mode": oct(m.mode), "owner": f"{m.uid}/{m.gid} {m.uname}/{m.gname}",
            "time": m.mtime, "type": m.type, "link": m.linkname,
            "contents": hashlib.sha256(content).hexdigest()}


def describe_zip(archive, m):
    return {"date": m.date_time, "mode": oct(m.external_attr >> 16), "system": m.create_system,
            "extra": m.extra.hex(), "compression": m.compress_type,
            "contents": hashlib.sha256(archive.read(m)).hexdigest()}


def compare(where, a, b):
    """Lines naming what differs between the two {name: description} maps."""
    lines = [f"{where}{name}: only in {side}"
             for side, one, other in (("the first", a, b), ("the second", b, a))
             for name in one if name not in other]
    for name in a:
        if name in b:
            what = [key for key in a[name] if a[name][key] != b[name][key]]
            if what:
                values = [f"{k} {a[name][k]} / {b[name][k]}" for k in what if k != "contents"]
                lines.append(f"{where}{name}: {', '.join(what)} differ"
                             + (": " + "; ".join(values) if values else ""))
    if not lines and list(a) != list(b):
        lines.append(f"{where}the members' order differs")
    return lines


def main():
    first, second = (open(path, "rb").read() for path in sys.argv[1:3])
    if first == second:
        return 0
    lines = []
    if first.startswith(b"!<arch>\n"):
        a, b = ar_members(first), ar_members(second)
        lines = compare("", {n: {"header": h.decode().rstrip("`\n "), "contents": d}
                             for n, (h, d) in a.items()},
                        {n: {"header": h.decode().rstrip("`\n "), "contents": d}
                         for n, (h, d) in b.items()})
        for name in a:
            if ".tar" in name and name in b and a[name][1] != b[name][1]:
                lines += compare(name + ": ",
                                 {n: describe_tar(m) for n, m in tar_members(a[name][1]).items()},
                                 {n: describe_tar(m) for n, m in tar_members(b[name][1]).items()})
    else:
        with zipfile.ZipFile(sys.argv[1]) as za, zipfile.ZipFile(sys.argv[2]) as zb:
            lines = compare("", {m.filename: describe_zip(za, m) for m in za.infolist()},
                            {m.filename: describe_zip(zb, m) for m in zb.infolist()})
    print("\n".join(lines or ["the archives' own bytes differ, no member does"]))
    return 1


sys.exit(main())
