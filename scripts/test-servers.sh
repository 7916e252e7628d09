#!/bin/bash
# Test servers for kestrin, each alone in a network namespace kt-NAME with
# only loopback: a standalone Samba, or a fake listener on port 445 for the
# failure paths. Needs root (ip netns).
#
#   test-servers.sh start NAME [--netbios N] [--workgroup W] [--sid S]
#                   [--conf 'smb.conf line']... [--ready rpc|tcp]
#   test-servers.sh fake NAME silent|close|junk|none|silent-dns
#   test-servers.sh stop NAME
#   test-servers.sh stopall
#
# Inside the namespace, 127.0.0.1 and ::1 answer to the NetBIOS name and
# "localhost" (/etc/netns/kt-NAME/hosts); every other name fails at once,
# because resolv.conf points at 127.0.0.1 where nothing answers (for
# silent-dns, something listens there and never replies). A server is ready
# when an anonymous "lsaquery 5" works, or with --ready tcp (for servers set
# up to refuse that) when port 445 accepts. State lives in
# $KESTRIN_SERVER_STATE/NAME (default /tmp/kestrin-servers/NAME).
set -euo pipefail

PREFIX=kt-
STATE_ROOT=${KESTRIN_SERVER_STATE:-/tmp/kestrin-servers}
READY_LIMIT_S=${KESTRIN_SERVER_READY_S:-30}
PYTHON=/usr/bin/python3

die() { echo "test-servers: $*" >&2; exit 1; }

usage() {
  sed -n '5,9p' "$0" | sed 's/^#  *//' >&2
  exit 2
}

check_name() {
  [[ $1 =~ ^[A-Za-z0-9_.-]{1,40}$ ]] || die "bad server name '$1' (letters, digits, _ . - only)"
}

namespace_exists() { [ -e "/run/netns/$1" ]; }

stop_server() {
  local ns=$PREFIX$1 pids=()
  if namespace_exists "$ns"; then
    mapfile -t pids < <(ip netns pids "$ns" || true)
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    # smbd and its helpers leave within a few hundred ms; a fake at once.
    for _ in $(seq 1 40); do
      mapfile -t pids < <(ip netns pids "$ns" || true)
      [ ${#pids[@]} -gt 0 ] || break
      sleep 0.05
    done
    [ ${#pids[@]} -eq 0 ] || kill -9 "${pids[@]}" 2>/dev/null || true
    ip netns del "$ns"
  fi
  rm -rf "/etc/netns/$ns"
}

# A namespace with loopback up, a hosts file for `names` and a resolver
# that answers nothing.
make_namespace() {
  local ns=$1 names=$2
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  mkdir -p "/etc/netns/$ns"
  printf '127.0.0.1 %s\n::1 %s\n' "$names" "$names" >"/etc/netns/$ns/hosts"
  printf 'nameserver 127.0.0.1\n' >"/etc/netns/$ns/resolv.conf"
}

# Waits until `command` succeeds in namespace `ns`, polling every `step`
# seconds until the epoch second `until`.
poll_until() {
  local ns=$1 until=$2 step=$3
  shift 3
  until ip netns exec "$ns" "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$until" ] || return 1
    sleep "$step"
  done
}

tcp_open() { poll_until "$1" "$2" 0.05 bash -c 'exec 3<>/dev/tcp/127.0.0.1/445'; }

# Stores any SID as the machine SID of `netbios`: `net setlocalsid` takes
# only S-1-5-21-x-y-z, but smbd serves whatever the secrets.tdb record holds.
write_sid() {
  local conf=$1 dir=$2 netbios=$3 sid=$4
  if [[ $sid =~ ^S-1-5-21-[0-9]{1,10}-[0-9]{1,10}-[0-9]{1,10}$ ]] &&
     net -s "$conf" setlocalsid "$sid" >/dev/null 2>&1; then
    return
  fi
  net -s "$conf" setlocalsid S-1-5-21-1-2-3 >/dev/null  # creates the record
  "$PYTHON" - "$dir/private/secrets.tdb" "$netbios" "$sid" <<'EOF' || die "cannot store SID '$sid'"
import struct, sys, tdb
path, netbios, text = sys.argv[1:4]
parts = text.split("-")
if len(parts) < 3 or parts[0] not in ("S", "s") or parts[1] != "1":
    sys.exit("not a SID: " + text)
try:
    authority = int(parts[2], 16) if parts[2].lower().startswith("0x") else int(parts[2])
    subs = [int(p) for p in parts[3:]]
except ValueError:
    sys.exit("not a SID: " + text)
if authority >= 1 << 48 or len(subs) > 15 or any(s < 0 or s >= 1 << 32 for s in subs):
    sys.exit("SID out of range: " + text)
record = struct.pack("<BB", 1, len(subs)) + authority.to_bytes(6, "big")
record += struct.pack("<15I", *(subs + [0] * (15 - len(subs))))
db = tdb.Tdb(path)
db[("SECRETS/SID/" + netbios.upper()).encode()] = record
db.close()
EOF
}

write_conf() {
  local dir=$1 netbios=$2 workgroup=$3
  shift 3
  cat >"$dir/smb.conf" <<EOF
[global]
  netbios name = $netbios
  workgroup = $workgroup
  server role = standalone server
  private dir = $dir/private
  lock directory = $dir/lock
  state directory = $dir/state
  cache directory = $dir/cache
  pid directory = $dir/pid
  ncalrpc dir = $dir/ncalrpc
  usershare path = $dir/usershares
  winbindd socket directory = $dir/winbindd
  binddns dir = $dir/binddns
  log file = $dir/log/log.%m
  passdb backend = tdbsam
  interfaces = lo
  bind interfaces only = yes
  smb ports = 445
  disable netbios = yes
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
EOF
  local line
  for line in "$@"; do printf '  %s\n' "$line" >>"$dir/smb.conf"; done
}

start_server() {
  local name=$1 netbios=$1 workgroup=KTWG sid="" ready=rpc conf=()
  shift
  while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || die "$1 needs a value"
    case $1 in
      --netbios) netbios=$2 ;;
      --workgroup) workgroup=$2 ;;
      --sid) sid=$2 ;;
      --conf) conf+=("$2") ;;
      --ready) ready=$2 ;;
      *) die "unknown option $1" ;;
    esac
    shift 2
  done
  [[ $ready == rpc || $ready == tcp ]] || die "--ready takes rpc or tcp"
  command -v smbd >/dev/null || die "smbd is not installed"
  local ns=$PREFIX$name dir=$STATE_ROOT/$name started
  started=$(date +%s%N)
  stop_server "$name"
  rm -rf "$dir"
  mkdir -p "$dir"/{private,lock,state,cache,pid,log,ncalrpc,usershares,winbindd,binddns}
  write_conf "$dir" "$netbios" "$workgroup" ${conf[@]+"${conf[@]}"}
  if [ -z "$sid" ]; then
    sid=S-1-5-21-$(od -An -tu4 -N12 /dev/urandom | awk '{print $1"-"$2"-"$3}')
  fi
  write_sid "$dir/smb.conf" "$dir" "$netbios" "$sid"

  local names="localhost"
  [[ -z $netbios || $netbios =~ [[:space:]] ]] || names="localhost $netbios"
  make_namespace "$ns" "$names"
  ip netns exec "$ns" smbd -D -s "$dir/smb.conf" || { stop_server "$name"; die "smbd did not start"; }
  local until=$(( $(date +%s) + READY_LIMIT_S ))
  if ! tcp_open "$ns" "$until" || { [ "$ready" = rpc ] &&
     ! poll_until "$ns" "$until" 0.1 timeout 10 rpcclient -U% -N 127.0.0.1 -c 'lsaquery 5'; }; then
    tail -n 20 "$dir"/log/log.* >&2 2>/dev/null || true
    stop_server "$name"
    die "$ns was not ready ($ready) within ${READY_LIMIT_S}s"
  fi
  echo "$ns ready: netbios '$netbios', SID $sid, $(( ($(date +%s%N) - started) / 1000000 )) ms"
}

# The fake listeners: 127.0.0.1:445 and [::1]:445 (or, for silent-dns, UDP
# port 53), serving every connection the same way until killed.
FAKE_PY='
import os, select, socket, sys
mode = sys.argv[1]
junk = b"\x00\x00\x00\x40" + bytes(range(0x80, 0xC0))  # one frame, not SMB
kind = socket.SOCK_DGRAM if mode == "silent-dns" else socket.SOCK_STREAM
port = 53 if mode == "silent-dns" else 445
listeners = []
for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
    s = socket.socket(family, kind)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((address, port))
    if kind == socket.SOCK_STREAM:
        s.listen(64)
    listeners.append(s)
open(sys.argv[2], "w").close()  # tells the script that it listens
held = []
while True:
    ready, _, _ = select.select(listeners + held, [], [])
    for s in ready:
        if kind == socket.SOCK_DGRAM:
            s.recv(4096)  # a query, never answered
        elif s in listeners:
            c, _ = s.accept()
            if mode == "close":
                c.close()
                continue
            if mode == "junk":
                c.sendall(junk)
            held.append(c)
        else:
            try:
                data = s.recv(65536)  # read and ignore; drop on the peer closing
            except OSError:
                data = b""
            if not data:
                held.remove(s)
                s.close()
'

start_fake() {
  local name=$1 mode=$2 ns=$PREFIX$1 dir=$STATE_ROOT/$1
  case $mode in silent | close | junk | none | silent-dns) ;; *) die "unknown fake '$mode'" ;; esac
  stop_server "$name"
  rm -rf "$dir"
  mkdir -p "$dir"
  make_namespace "$ns" "localhost $name"
  if [ "$mode" != none ]; then
    # Detached from our output, so that a caller reading it is not held open.
    ip netns exec "$ns" setsid "$PYTHON" -c "$FAKE_PY" "$mode" "$dir/listening" \
      </dev/null >"$dir/fake.log" 2>&1 &
    for _ in $(seq 1 200); do
      [ ! -e "$dir/listening" ] || break
      sleep 0.02
    done
    [ -e "$dir/listening" ] || { cat "$dir/fake.log" >&2; stop_server "$name"; die "fake $mode did not start"; }
  fi
  echo "$ns ready: fake $mode"
}

main() {
  [ $# -ge 1 ] || usage
  [ "$(id -u)" = 0 ] || die "needs root (ip netns)"
  local command=$1
  shift
  case $command in
    start) [ $# -ge 1 ] || usage; check_name "$1"; start_server "$@" ;;
    fake) [ $# -eq 2 ] || usage; check_name "$1"; start_fake "$1" "$2" ;;
    stop) [ $# -eq 1 ] || usage; check_name "$1"; stop_server "$1" ;;
    stopall)
      local ns
      for ns in $(ip netns list | awk '{print $1}' | grep "^$PREFIX" || true); do
        stop_server "${ns#"$PREFIX"}"
      done ;;
    *) usage ;;
  esac
}

main "$@"
