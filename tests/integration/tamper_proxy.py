#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""A TCP proxy that changes what passes through it, for the tests of signed
sessions (whatever a man in the middle alters must make the query fail,
never change its answer) and of hostile answers.

    tamper_proxy.py LISTEN_ADDRESS TARGET_ADDRESS CONTROL_FILE READY_FILE

Listens on LISTEN_ADDRESS:445 and forwards each connection to
TARGET_ADDRESS:445. At each new connection it reads CONTROL_FILE: a number N
makes it XOR the server's byte N (counted from 0 over the connection's whole
server-to-client stream) with 0x01; "client N HEX" makes it overwrite the
client's bytes from N on with HEX; "replace HEX1 HEX2" makes it replace
HEX1 with HEX2 (as long) wherever it occurs in a frame the server sends,
frames taken whole by their 4-byte length prefix; "interim" makes it answer
every IOCTL first as a busy Windows server does: a 72-byte STATUS_PENDING
answer in the async form, unsigned, granting the credits, then the answer
itself, in the async form with no credits where it is not signed;
"short-errors" takes the one ErrorData byte off every unsigned error answer,
as newer Windows sends them (72 bytes). An empty or missing file changes
nothing. It connects to the target from LISTEN_ADDRESS, writes READY_FILE
once it listens, and serves until killed."""
import os
import select
import socket
import struct
import sys

SIGNED = 0x8
ASYNC = 0x2
ASYNC_ID = 0x2D
IOCTL = 11
PENDING = 0x103


def what_to_change(control):
    """(server offset to flip or -1, client offset or -1, client bytes,
    a function that rewrites a whole server frame, or None)."""
    try:
        with open(control) as f:
            words = f.read().split()
        if words in (["interim"], ["short-errors"]):
            return -1, -1, b"", interim if words[0] == "interim" else short_errors
        if len(words) == 3 and words[0] == "client":
            return -1, int(words[1]), bytes.fromhex(words[2]), None
        if len(words) == 3 and words[0] == "replace":
            old, new = bytes.fromhex(words[1]), bytes.fromhex(words[2])
            if len(old) == len(new) and old:
                return -1, -1, b"", lambda frame: frame.replace(old, new)
        return (int(words[0]) if words else -1), -1, b"", None
    except (OSError, ValueError):
        return -1, -1, b"", None


def prefixed(message):
    return struct.pack(">I", len(message)) + message


def lone_message(frame):
    """The one SMB2 message of `frame` (prefix taken off), or None for a
    chain or an encrypted frame."""
    message = frame[4:]
    if len(message) < 64 or message[:4] != b"\xfeSMB":
        return None
    if struct.unpack_from("<I", message, 20)[0] != 0:
        return None
    return bytearray(message)


def interim(frame):
    message = lone_message(frame)
    if message is None:
        return frame
    status, command, credits, flags = struct.unpack_from("<IHHI", message, 8)
    if command != IOCTL or status == PENDING:
        return frame
    pending = bytearray(message[:64]) + bytes([9, 0, 0, 0, 0, 0, 0, 0])
    struct.pack_into("<IHHI", pending, 8, PENDING, command, credits, flags & ~SIGNED | ASYNC)
    struct.pack_into("<Q", pending, 32, ASYNC_ID)
    pending[48:64] = bytes(16)
    if not flags & SIGNED:
        struct.pack_into("<HHI", message, 12, command, 0, flags | ASYNC)
        struct.pack_into("<Q", message, 32, ASYNC_ID)
    return prefixed(bytes(pending)) + prefixed(bytes(message))


def short_errors(frame):
    message = lone_message(frame)
    if message is None or len(message) != 73:
        return frame
    status, flags = struct.unpack_from("<I", message, 8)[0], message[16]
    byte_count = struct.unpack_from("<I", message, 68)[0]
    if status >> 30 != 3 or flags & SIGNED or message[64] != 9 or byte_count != 0:
        return frame
    return prefixed(bytes(message[:72]))


def whole_frames(pending, rewrite):
    """The whole frames at the start of `pending`, each rewritten, and what
    is left of it."""
    out = b""
    while len(pending) >= 4:
        end = 4 + int.from_bytes(pending[1:4], "big")
        if len(pending) < end:
            break
        out += rewrite(pending[:end])
        pending = pending[end:]
    return out, pending


def overwrite(data, seen, at, new):
    """`data`, which starts at stream offset `seen`, with `new` put at `at`."""
    data = bytearray(data)
    for i, b in enumerate(new):
        if seen <= at + i < seen + len(data):
            data[at + i - seen] = b
    return bytes(data)


def relay(client, server, change):
    flip_at, client_at, client_bytes, rewrite = change
    seen = 0  # server bytes passed on so far
    sent = 0  # client bytes passed on so far
    held = b""  # server bytes of a frame not yet whole
    peers = {client: server, server: client}
    while True:
        ready, _, _ = select.select(list(peers), [], [], 30)
        if not ready:
            return
        for s in ready:
            data = s.recv(65536)
            if not data:
                return
            if s is server and seen <= flip_at < seen + len(data):
                data = bytearray(data)
                data[flip_at - seen] ^= 0x01
                data = bytes(data)
            if s is server and rewrite is not None:
                data, held = whole_frames(held + data, rewrite)
            if s is server:
                seen += len(data)
            else:
                data = overwrite(data, sent, client_at, client_bytes)
                sent += len(data)
            peers[s].sendall(data)


def main():
    listen, target, control, ready = sys.argv[1:5]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((listen, 445))
    listener.listen(16)
    open(ready, "w").close()
    while True:
        client, _ = listener.accept()
        change = what_to_change(control)
        if os.fork() == 0:
            listener.close()
            server = socket.create_connection((target, 445), source_address=(listen, 0))
            for s in (client, server):
                s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            try:
                relay(client, server, change)
            except OSError:
                pass
            os._exit(0)
        client.close()
        try:
            while os.waitpid(-1, os.WNOHANG)[0] != 0:
                pass
        except ChildProcessError:
            pass


if __name__ == "__main__":
    main()
