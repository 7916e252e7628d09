#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""A KDC stand-in that answers every request the way a control file says.

    hostile_kdc.py ADDRESS CONTROL READY [LIMIT_S]

Listens on ADDRESS port 88, UDP and TCP (TCP: a 4-byte big-endian length,
then the message; RFC 4120 7.2.2), creates READY once both listen, and ends
by itself after LIMIT_S seconds (default 600). Each request is answered
after reading CONTROL afresh, and noted as a line ("udp" or "tcp") in
CONTROL.requests. CONTROL holds one line:

    error CODE          a KRB-ERROR with error-code CODE (any Int32)
    toobig CODE         UDP: KRB_ERR_RESPONSE_TOO_BIG (52); TCP: CODE
    truncate N          the first N bytes of a KRB-ERROR (code 141)
    tag N               a KRB-ERROR's body under [APPLICATION N]
    corrupt POS BYTE    a KRB-ERROR (code 141) with byte POS set to BYTE
    overlong I HOW      the I-th TLV of a KRB-ERROR (code 141) claims a
                        length past the datagram: HOW is "plus1" or "huge"
    tcp-huge LENGTH     UDP: too big; TCP: the prefix LENGTH, then closed
    tcp-truncate N      UDP: too big; TCP: a full prefix, N bytes, close
    tcp-close           UDP: too big; TCP: closed at once
    close               UDP: nothing; TCP: closed at once
    silent              UDP: nothing; TCP: accepted, never answered
    delay LO HI CODE    error CODE, each answer LO..HI ms after its request
                        (the n-th request waits LO + n * 97 mod (HI - LO))

READY holds "LENGTH TLVS": the length of the plain KRB-ERROR (code 141) and
the count of its TLVs, so that a caller can walk every position of it.
"""
import os
import socket
import struct
import sys
import threading
import time

REALM = b"SALES.TEST"
BASE_CODE = 141  # the code a cache miss would be mistaken for


def der_length(n):
    if n < 0x80:
        return bytes([n])
    size = (n.bit_length() + 7) // 8
    return bytes([0x80 | size]) + n.to_bytes(size, "big")


def der(tag, body):
    return bytes([tag]) + der_length(len(body)) + body


def der_int(value):
    magnitude = value if value >= 0 else ~value
    size = (magnitude.bit_length() + 8) // 8
    return der(0x02, value.to_bytes(size, "big", signed=True))


def context(n, body):
    return der(0xA0 | n, body)


def principal(name_type, parts):
    strings = b"".join(der(0x1B, p) for p in parts)
    return der(0x30, context(0, der_int(name_type)) + context(1, der(0x30, strings)))


def krb_error_body(code):
    """The SEQUENCE of a KRB-ERROR (RFC 4120 5.9.1) with error-code `code`."""
    now = time.time()
    stime = time.strftime("%Y%m%d%H%M%SZ", time.gmtime(now)).encode()
    fields = (context(0, der_int(5)) + context(1, der_int(30)) +
              context(4, der(0x18, stime)) + context(5, der_int(int(now * 1e6) % 1000000 | 0x8000)) +
              context(6, der_int(code)) + context(9, der(0x1B, REALM)) +
              context(10, principal(2, [b"krbtgt", REALM])))
    return der(0x30, fields)


def application_wrap(n, body):
    if n < 31:
        return der(0x60 | n, body)
    # High tag numbers (X.690 8.1.2.4): one subsequent octet, up to 127.
    return bytes([0x7F, n & 0x7F]) + der_length(len(body)) + body


def krb_error(code):
    return application_wrap(30, krb_error_body(code))


def tlvs(message):
    """Where each TLV's length octets sit: (start, end) pairs, in order."""
    found = []

    def walk(at, end):
        while at < end:
            tag_end = at + 1
            if message[at] & 0x1F == 0x1F:
                tag_end += 1
            first = message[tag_end]
            if first < 0x80:
                length, body = first, tag_end + 1
            else:
                size = first & 0x7F
                length = int.from_bytes(message[tag_end + 1:tag_end + 1 + size], "big")
                body = tag_end + 1 + size
            found.append((tag_end, body))
            if message[at] & 0x20:  # constructed
                walk(body, body + length)
            at = body + length

    walk(0, len(message))
    return found


def overlong(message, index, how):
    start, end = tlvs(message)[index]
    if how == "huge":
        claimed = bytes([0x84, 0x7F, 0xFF, 0xFF, 0xFF])
    else:
        claimed = der_length(len(message) - end + 1)  # one byte past the datagram
    return message[:start] + claimed + message[end:]


def read_mode(path):
    try:
        with open(path) as f:
            return f.read().split()
    except OSError:
        return ["silent"]


class Kdc:
    def __init__(self, control):
        self.control = control
        self.count = 0
        self.lock = threading.Lock()

    def next_delay(self, lo, hi):
        with self.lock:
            n = self.count
            self.count += 1
        return lo + (n * 97) % (hi - lo) if hi > lo else lo

    def answer(self, over_tcp):
        """The bytes to send, None for none, or ("close",) / ("hold",)."""
        with self.lock, open(self.control + ".requests", "a") as log:
            log.write("tcp\n" if over_tcp else "udp\n")
        mode = read_mode(self.control)
        what, args = mode[0] if mode else "silent", mode[1:]
        if what == "error":
            return krb_error(int(args[0]))
        if what == "toobig":
            return krb_error(int(args[0])) if over_tcp else krb_error(52)
        if what == "truncate":
            return krb_error(BASE_CODE)[:int(args[0])]
        if what == "tag":
            return application_wrap(int(args[0]), krb_error_body(BASE_CODE))
        if what == "corrupt":
            m = bytearray(krb_error(BASE_CODE))
            m[int(args[0])] = int(args[1])
            return bytes(m)
        if what == "overlong":
            return overlong(krb_error(BASE_CODE), int(args[0]), args[1])
        if what.startswith("tcp-"):
            if not over_tcp:
                return krb_error(52)
            if what == "tcp-close":
                return ("close",)
            if what == "tcp-huge":
                return ("raw", struct.pack(">I", int(args[0])))
            whole = krb_error(BASE_CODE)
            return ("raw", struct.pack(">I", len(whole)) + whole[:int(args[0])])
        if what == "close":
            return ("close",) if over_tcp else None
        if what == "delay":
            time.sleep(self.next_delay(int(args[0]), int(args[1])) / 1000.0)
            return krb_error(int(args[2]))
        return ("hold",) if over_tcp else None

    def udp(self, sock, data, peer):
        reply = self.answer(False)
        if isinstance(reply, bytes):
            try:
                sock.sendto(reply, peer)
            except OSError:
                pass

    def tcp(self, conn):
        try:
            conn.settimeout(30)
            head = b""
            while len(head) < 4:
                chunk = conn.recv(4 - len(head))
                if not chunk:
                    return
                head += chunk
            want = min(struct.unpack(">I", head)[0], 65536)
            got = 0
            while got < want:
                chunk = conn.recv(min(4096, want - got))
                if not chunk:
                    return
                got += len(chunk)
            reply = self.answer(True)
            if isinstance(reply, bytes):
                conn.sendall(struct.pack(">I", len(reply)) + reply)
            elif reply is not None and reply[0] == "raw":
                conn.sendall(reply[1])
            elif reply is not None and reply[0] == "hold":
                time.sleep(30)
        except OSError:
            pass
        finally:
            conn.close()


def main():
    address, control, ready = sys.argv[1:4]
    limit = float(sys.argv[4]) if len(sys.argv) > 4 else 600.0
    kdc = Kdc(control)
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind((address, 88))
    tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    tcp.bind((address, 88))
    tcp.listen(64)

    def serve_udp():
        while True:
            data, peer = udp.recvfrom(65536)
            threading.Thread(target=kdc.udp, args=(udp, data, peer), daemon=True).start()

    def serve_tcp():
        while True:
            conn, _ = tcp.accept()
            threading.Thread(target=kdc.tcp, args=(conn,), daemon=True).start()

    for serve in (serve_udp, serve_tcp):
        threading.Thread(target=serve, daemon=True).start()
    plain = krb_error(BASE_CODE)
    with open(ready + ".tmp", "w") as f:
        f.write("%d %d\n" % (len(plain), len(tlvs(plain))))
    os.rename(ready + ".tmp", ready)
    time.sleep(limit)


if __name__ == "__main__":
    main()
