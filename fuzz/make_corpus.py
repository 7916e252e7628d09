#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes fuzz/corpus/ from the live replies: one file per reply, its first
byte choosing the decoder as reply_fuzz.cpp does; the SMB2 frames come from
the recorded conversations in tests/data/ and the recorded Windows answers
in tests/data/windows/. Writes fuzz/exchange_corpus/ from
the same conversations: one file each, its server frames as the records
exchange_fuzz.cpp reads (a 2-byte little-endian length, then the frame
without its direct-TCP prefix)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CONVERSATIONS = {"lsa": "samba_sales_lsa.txt", "denied": "samba_sales_denied.txt",
                 "lsa302": "samba_sales_302.txt", "krb5-311": "krb5_member1_311.txt",
                 "ntlm-311": "ntlm_member1_311.txt", "ntlm-302": "ntlm_member3_302.txt",
                 "ntlm-210": "ntlm_member2_210.txt",
                 "krb5-aes128gcm": "krb5_member5_311_aes128gcm.txt",
                 "ntlm-aes128ccm-302": "ntlm_member9_302_aes128ccm.txt",
                 "krb5-ipc-encrypted": "krb5_member10_311_ipc_encrypted.txt",
                 "lsa-credits1": "samba_sales_credits1.txt",
                 "lsa-credits2": "samba_sales_credits2.txt",
                 "ntlm-302-credits1": "ntlm_member11_302_credits1.txt"}


def H(text):
    return bytes.fromhex(text.replace(" ", ""))


TESTBOX = "TESTBOX".encode("utf-16-le")
BIND_ACK = H("05 00 0C 03 10 00 00 00 44 00 00 00 01 00 00 00 B8 10 B8 10 76 AD 00 00"
             "0C 00 5C 70 69 70 65 5C 6C 73 61 73 73 00 00 00 01 00 00 00 00 00 00 00"
             "04 5D 88 8A EB 1C C9 11 9F E8 08 00 2B 10 48 60 02 00 00 00")
BIND_NAK = H("05 00 0D 03 10 00 00 00 15 00 00 00 01 00 00 00 04 00 01 05 00")
FAULT = H("05 00 03 03 10 00 00 00 20 00 00 00 03 00 00 00 20 00 00 00 00 00 00 00"
          "1A 00 00 1C 00 00 00 00")
DOMAIN_STUB = (H("00 00 02 00 05 00 00 00 0E 00 10 00 04 00 02 00 08 00 02 00"
                 "08 00 00 00 00 00 00 00 07 00 00 00") + TESTBOX + H("00 00")
               + H("04 00 00 00 01 04 00 00 00 00 00 05"
                   "15 00 00 00 0F 42 82 00 90 39 3B 35 54 95 66 78 00 00 00 00"))
HANDLE = H("01 00 00 00 CA 00 B7 31 4E 49 A3 46 BF 03 94 6C 61 DF F3 01")
AV_PAIRS = (H("02 00 0E 00") + TESTBOX + H("01 00 0E 00") + TESTBOX + H("04 00 00 00")
            + H("03 00 04 00 74 00 62 00") + H("07 00 08 00 00 A1 B2 C3 D4 E5 F6 01")
            + H("00 00 00 00"))
CHALLENGE = (H("4E 54 4C 4D 53 53 50 00 02 00 00 00 0E 00 0E 00 38 00 00 00 05 82 8A A2"
               "01 23 45 67 89 AB CD EF 00 00 00 00 00 00 00 00 40 00 40 00 46 00 00 00"
               "0A 00 61 4A 00 00 00 0F") + TESTBOX + AV_PAIRS)
SPNEGO_CHALLENGE = (H("A1 81 A2 30 81 9F A0 03 0A 01 01 A1 0C 06 0A 2B 06 01 04 01 82 37 02 02 0A"
                      "A2 81 89 04 81 86") + CHALLENGE)
SPNEGO_FINAL = H("A1 07 30 05 A0 03 0A 01 00")
# Samba's encrypted answers of protocol-auth.md 7.1 (AES-128-GCM) and 7.2
# (AES-128-CCM); reply_fuzz.cpp holds their keys.
TRANSFORM_311 = H("fd534d42 b846b392 d4d042d2 7ae7c130 36517b93 01000000 00000000 eeea39f2"
                  "00000000 44000000 00000100 67b0734c 00000000 bdd0068d 6f52b13b 391d011e"
                  "8f53119a 6d189a60 89f5f85f a64ffc5b 673ec424 54cbe1ec 5189c029 12348dff"
                  "2305168d 42721d10 66e94a79 4122f966 8e0879c0 b151e8f8")
TRANSFORM_302 = H("fd534d42 42cec59a 448e5e3b 23c76277 f6936450 01000000 00000000 879dd800"
                  "00000000 44000000 00000100 c0311f7a 00000000 96609975 6a63726a 77069a19"
                  "95701f56 4fbea301 6811dcff 86a037cb 11f9c6f7 b1812659 a1577b78 ce0a2977"
                  "2982664d ed6cc7df a148402e 8dd2efa8 1aa5cd36 a48396cd")


def response(call_id, flags, stub):
    """A RESPONSE PDU around `stub`."""
    return struct.pack("<BBBBIHHIIHBB", 5, 0, 2, flags, 0x10, 24 + len(stub), 0,
                       call_id, len(stub), 0, 0, 0) + stub


def server_frames(name):
    """The server's frames of a recorded conversation, prefixes included."""
    path = os.path.join(HERE, "..", "tests", "data", name)
    with open(path) as f:
        return [bytes.fromhex(line[2:].strip()) for line in f if line.startswith("< ")]


def read_split(frames):
    """`frames` with the last IOCTL answer cut in two: STATUS_BUFFER_OVERFLOW
    with the first 40 bytes of its output, then a READ answer with the rest."""
    last = frames[-1]
    header, body = last[4:68], last[68:]
    offset, count = struct.unpack_from("<II", body, 32)
    output = last[4 + offset:4 + offset + count]

    def frame(header, body):
        payload = header + body
        return struct.pack(">I", len(payload)) + payload

    overflow = header[:8] + struct.pack("<I", 0x80000005) + header[12:]
    ioctl = body[:36] + struct.pack("<I", 40) + body[40:48] + output[:40]
    read_header = (header[:8] + bytes(4) + struct.pack("<H", 8) + header[14:24]
                   + struct.pack("<Q", 8) + header[32:])
    read = struct.pack("<BBBBI", 17, 0, 0x50, 0, count - 40) + bytes(8) + output[40:]
    return frames[:-1] + [frame(overflow, ioctl), frame(read_header, read)]


def with_interim(frames, k, error_data=b"\x21"):
    """`frames` with an interim STATUS_PENDING answer to the request that
    frame `k` answers put before it (72 bytes as newer Windows sends it when
    `error_data` is empty)."""
    header = frames[k][4:68]
    flags = struct.unpack_from("<I", header, 16)[0] | 0x2
    interim = (header[:8] + struct.pack("<I", 0x103) + header[12:16] + struct.pack("<I", flags)
               + header[20:32] + struct.pack("<Q", 9) + header[40:]
               + bytes([9, 0, 0, 0, 0, 0, 0, 0]) + error_data)
    return frames[:k] + [struct.pack(">I", len(interim)) + interim] + frames[k:]


def windows_shaped(frames):
    """`frames` as a busy Windows server answers: each pipe IOCTL answer
    after a 72-byte interim one, itself in the async form, no credits."""
    out = []
    for frame in frames:
        header = frame[4:68]
        command = struct.unpack_from("<H", header, 12)[0]
        if command != 11 or struct.unpack_from("<I", header, 20)[0] != 0:
            out.append(frame)
            continue
        out = with_interim(out + [frame], len(out), b"")
        flags = struct.unpack_from("<I", header, 16)[0] | 0x2
        final = (header[:14] + bytes(2) + struct.pack("<I", flags) + header[20:32]
                 + struct.pack("<Q", 9) + header[40:] + frame[68:])
        out[-1] = struct.pack(">I", len(final)) + final
    return out


def windows_replies():
    """The recorded Windows answers, name and bytes (a BODYONLY one under a
    plain response header)."""
    directory = os.path.join(HERE, "..", "tests", "data", "windows")
    replies = {}
    for name in sorted(os.listdir(directory)):
        if not name.endswith(".hex"):
            continue
        with open(os.path.join(directory, name)) as f:
            data = bytes.fromhex("".join(line.strip() for line in f if not line.startswith("#")))
        if "BODYONLY" in name:
            command = 0 if "negotiate" in name else 1
            data = (b"\xfeSMB" + struct.pack("<HHIHHI", 64, 0, 0, command, 1, 1)
                    + bytes(64 - 20) + data)
        replies[name[:2]] = data
    return replies


def write(directory, corpus):
    out = os.path.join(HERE, directory)
    os.makedirs(out, exist_ok=True)
    for name, data in corpus.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


def main():
    assert len(BIND_ACK) == 68 and len(DOMAIN_STUB) == 80 and len(CHALLENGE) == 134
    assert len(SPNEGO_CHALLENGE) == 0xA2 + 3
    assert len(TRANSFORM_311) == len(TRANSFORM_302) == 52 + 0x44
    pieces = [DOMAIN_STUB[:32], DOMAIN_STUB[32:64], DOMAIN_STUB[64:]]
    fragments = b"".join(response(3, f, p) for f, p in zip((1, 0, 2), pieces))
    corpus = {
        "0-bind-ack": b"\0" + BIND_ACK,
        "0-bind-nak": b"\0" + BIND_NAK,
        "1-query-response": b"\1" + response(3, 3, DOMAIN_STUB),
        "1-query-three-fragments": b"\1" + fragments,
        "1-fault": b"\1" + FAULT,
        "2-open-policy2": b"\2" + HANDLE + bytes(4),
        "3-account-domain": b"\3" + DOMAIN_STUB,
        "3-account-domain-denied": b"\3" + H("00 00 00 00 22 00 00 C0"),
        "4-spnego-challenge": b"\4" + SPNEGO_CHALLENGE,
        "5-spnego-final": b"\5" + SPNEGO_FINAL,
        "6-ntlm-challenge": b"\6" + CHALLENGE,
        "8-transform-311": b"\x08" + TRANSFORM_311,
        "8-transform-302": b"\x08" + TRANSFORM_302,
        "9-netbios-positive": b"\x09" + H("82 00 00 00"),
        "9-netbios-negative": b"\x09" + H("83 00 00 01 81"),  # Samba, hosts deny
    }
    windows = windows_replies()
    for tag, data in windows.items():
        if tag in ("13", "14"):  # READ answers: their RPC PDUs too
            offset, length = data[66], struct.unpack_from("<I", data, 68)[0]
            pdu = bytearray(data[offset:offset + length])
            pdu[12] = 3  # the call id the fuzzer reassembles
            corpus["%d-windows-%s" % (0 if tag == "13" else 1, tag)] = (
                (b"\0" if tag == "13" else b"\1") + bytes(pdu))
        if tag == "21":
            corpus["3-windows-21"] = b"\3" + data
            continue
        corpus["7-smb2-windows-" + tag] = b"\7" + struct.pack(">I", len(data)) + data
    for tag in ("04", "05", "07"):
        data = windows[tag]
        offset, length = struct.unpack_from("<HH", data, 68)
        token = data[offset:offset + length]
        corpus["%d-windows-%s" % (6 if tag == "04" else 4, tag)] = (
            (b"\6" if tag == "04" else b"\4") + token)
    conversations = {tag: server_frames(name) for tag, name in CONVERSATIONS.items()}
    conversations["lsa-read"] = read_split(conversations["lsa"])
    conversations["lsa-pending"] = with_interim(conversations["lsa"], 5)
    conversations["lsa-windows"] = windows_shaped(conversations["lsa"])
    conversations["lsa-credits1-windows"] = windows_shaped(conversations["lsa-credits1"])
    exchange = {}
    for tag, frames in conversations.items():
        for i, frame in enumerate(frames):
            if b"\7" + frame not in corpus.values():
                corpus["7-smb2-%s-%d" % (tag, i)] = b"\7" + frame
        exchange[tag] = b"".join(struct.pack("<H", len(f) - 4) + f[4:] for f in frames)
    write("corpus", corpus)
    write("exchange_corpus", exchange)


if __name__ == "__main__":
    main()
