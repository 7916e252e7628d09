#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Test servers for kestrin, each alone in a network namespace PREFIX-NAME
# (kt-NAME unless KESTRIN_NS_PREFIX says otherwise) with only loopback: a
# standalone Samba, a fake listener on port 445 for the failure paths, or an
# Active Directory domain controller with member servers that domain users
# log on to (Kerberos and NTLM). Needs root.
#
#   test-servers.sh start NAME [--netbios N] [--workgroup W] [--sid S]
#                   [--conf 'smb.conf line']... [--ready rpc|tcp]
#   test-servers.sh fake NAME silent|close|junk|none|silent-dns|nbt-name
#   test-servers.sh dc NAME [--conf 'smb.conf line']...
#   test-servers.sh member DCNAME MEMBER --ip 127.0.0.N [--sid S]
#                   [--conf 'smb.conf line']...
#   test-servers.sh user DCNAME USER          (password: first line of stdin)
#   test-servers.sh kinit DCNAME USER CCACHE-FILE [--password-stdin]
#   test-servers.sh silence NAME ADDRESS PORT
#   test-servers.sh stop NAME [MEMBER]
#   test-servers.sh stopall
#   test-servers.sh where NAME     (prints NAME's namespace and state directory)
#
# Runs that must not meet, such as two test runs on one machine, each set
# KESTRIN_NS_PREFIX (letters, digits, _ . -; it never starts with "kt-"
# unless it is kt- itself): their namespaces, the files under /etc/netns
# and the state directory (by default /tmp/kestrin-servers/PREFIX without
# its last "-") are then theirs alone, and stopall stops only those. Only the
# provisioned domain template is shared, read-only once made, in
# $KESTRIN_SERVER_CACHE (default /tmp/kestrin-servers/.cache).
#
# For start and fake, 127.0.0.1 and ::1 answer to the NetBIOS name and
# "localhost" in the namespace (/etc/netns/kt-NAME/hosts); every other name
# fails at once, because resolv.conf points at 127.0.0.1 where nothing
# answers (for silent-dns, something listens there and never replies). A
# server is ready when an anonymous "lsaquery 5" works, or with --ready tcp
# (for servers set up to refuse that) when its port accepts: 445, or the
# first of an "smb ports" --conf line (e.g. 'smb ports = 139'). State lives
# in $KESTRIN_SERVER_STATE/NAME (default /tmp/kestrin-servers/NAME).
#
# silence NAME ADDRESS PORT: from then on, TCP packets to ADDRESS:PORT are
# dropped in the namespace (nftables), so that connecting there hangs: a
# silent address. Loopback addresses only (127.x.y.z, ::1).
#
# dc NAME: an AD domain, realm SALES.TEST, NetBIOS domain SALES, SID
# S-1-5-21-100-200-300; its DC dc1 (dc1.sales.test) on 127.0.0.1 and ::1,
# samba -M single, tls enabled = no, no DNS server, passwords that never
# expire, and a user alice with the password Pw-Alice.123. The first "dc"
# provisions it into $KESTRIN_SERVER_CACHE/dc-template-vN (9-15 s); later
# ones copy that (about 2 s). Ready when "lsaquery 5" as SALES\alice works
# (NTLM); then one line, paths included, for tests to read:
#   kt-NAME ready: dc host=dc1.sales.test realm=SALES.TEST domain=SALES
#     sid=S-1-5-21-100-200-300 krb5_config=PATH user=alice
#     ntlm_user_file=PATH auth_file=PATH client_conf=PATH ms=N
#
# member DCNAME MEMBER: a member server in the DC's namespace on an address
# of its own (127.0.0.2, .3, ...), named MEMBER and MEMBER.sales.test there
# (/etc/netns/kt-DCNAME/hosts), NetBIOS name MEMBER in upper case, SID
# S-1-5-21-7-8-9 unless --sid says otherwise, plus the --conf lines (e.g.
# "restrict anonymous = 2", "server signing = mandatory", "server max
# protocol = SMB2_10"). It joins the domain (net ads join) and runs
# winbindd and smbd in a mount namespace of its own, where /run/samba and
# /etc/nsswitch.conf (the host's plus winbind) come from its state
# directory $KESTRIN_SERVER_STATE/DCNAME/members/MEMBER. Ready (2-4 s) when
# "lsaquery 5" as SALES\alice answers with its name; prints
#   kt-NAME ready: member MEMBER host=MEMBER.sales.test ip=ADDRESS
#     netbios=NETBIOS sid=SID ms=N
# "stop DCNAME" stops the DC and its members, "stop DCNAME MEMBER" one member.
#
# Credentials, never on a command line:
# - kinit writes a ticket for USER@SALES.TEST into the FILE: ccache
#   CCACHE-FILE, with the password of a user that "dc" or "user" made, or
#   with --password-stdin the first line of stdin (e.g. a wrong one).
# - user makes another domain user (the password must be complex enough);
#   its files sit beside alice's, in $KESTRIN_SERVER_STATE/DCNAME/users.
# - ntlm_user_file: for NTLM_USER_FILE (gss-ntlmssp): lines
#   "DOMAIN:USER:PASSWORD", the first one the default credential; mode 0600.
# - auth_file: for Samba's tools, -A (username, password, domain lines).
# - client_conf: an smb.conf for Samba's tools, -s, that keeps their lock
#   and cache files in the state directory, out of the host's /run/samba.
# Clients run inside the namespace:
#   ip netns exec kt-NAME env KRB5_CONFIG=PATH KRB5CCNAME=FILE:CCACHE prog member1
# Kerberos needs a name: GSSAPI's cifs@member1 and cifs@member1.sales.test
# both get cifs/member1.sales.test (krb5.conf qualifies short names);
# cifs@127.0.0.2 has no principal, and SPNEGO goes on with NTLM if
# NTLM_USER_FILE is set. Samba 4.17's rpcclient ignores --use-krb5-ccache:
# give it KRB5CCNAME and -N (it asks for cifs/member1@SALES.TEST itself).
set -euo pipefail

PREFIX=${KESTRIN_NS_PREFIX:-kt-}
if [ "$PREFIX" = kt- ]; then
  STATE_ROOT=${KESTRIN_SERVER_STATE:-/tmp/kestrin-servers}
else
  STATE_ROOT=${KESTRIN_SERVER_STATE:-/tmp/kestrin-servers/${PREFIX%-}}
fi
CACHE_ROOT=${KESTRIN_SERVER_CACHE:-/tmp/kestrin-servers/.cache}
READY_LIMIT_S=${KESTRIN_SERVER_READY_S:-30}
PYTHON=/usr/bin/python3

die() { echo "test-servers: $*" >&2; exit 1; }

usage() {
  sed -n '/^#   test-servers.sh start/,/^#   test-servers.sh where/p' "$0" | sed 's/^#  *//' >&2
  exit 2
}

check_name() {
  [[ $1 =~ ^[A-Za-z0-9_.-]{1,40}$ ]] || die "bad server name '$1' (letters, digits, _ . - only)"
}

# A prefix of another run's would let this run's stopall reach its servers.
check_prefix() {
  [[ $PREFIX =~ ^[A-Za-z0-9_.-]{1,24}$ ]] || die "bad KESTRIN_NS_PREFIX '$PREFIX'"
  [[ $PREFIX == kt- || $PREFIX != kt-* ]] || die "KESTRIN_NS_PREFIX '$PREFIX' starts with kt-"
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
  rm -f "$STATE_ROOT/$1"/members/*/mntns
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

tcp_open() { poll_until "$1" "$2" 0.05 bash -c "exec 3<>/dev/tcp/127.0.0.1/${3:-445}"; }

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
  local ns=$PREFIX$name dir=$STATE_ROOT/$name started port=445 line
  for line in ${conf[@]+"${conf[@]}"}; do
    [[ ! $line =~ ^smb\ ports\ *=\ *([0-9]+) ]] || port=${BASH_REMATCH[1]}
  done
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
  if ! tcp_open "$ns" "$until" "$port" || { [ "$ready" = rpc ] &&
     ! poll_until "$ns" "$until" 0.1 timeout 10 rpcclient -U% -N 127.0.0.1 -c 'lsaquery 5'; }; then
    tail -n 20 "$dir"/log/log.* >&2 2>/dev/null || true
    stop_server "$name"
    die "$ns was not ready ($ready) within ${READY_LIMIT_S}s"
  fi
  echo "$ns ready: netbios '$netbios', SID $sid, $(( ($(date +%s%N) - started) / 1000000 )) ms"
}

# The fake listeners: 127.0.0.1:445 and [::1]:445 (or, for silent-dns, UDP
# port 53), serving every connection the same way until killed. nbt-name
# listens on port 139 instead and answers a NetBIOS session request for
# *SMBSERVER (and only that name) with a positive response and junk.
FAKE_PY='
import os, select, socket, sys
mode = sys.argv[1]
junk = b"\x00\x00\x00\x40" + bytes(range(0x80, 0xC0))  # one frame, not SMB
kind = socket.SOCK_DGRAM if mode == "silent-dns" else socket.SOCK_STREAM
port = {"silent-dns": 53, "nbt-name": 139}.get(mode, 445)
def called_name(request):  # RFC 1001 14.1, the first of the two names
    pairs = request[5:35]
    return bytes((pairs[i] - 65) << 4 | (pairs[i + 1] - 65) for i in range(0, 30, 2))
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
            if mode == "nbt-name" and data[:1] == b"\x81":
                if called_name(data).rstrip() == b"*SMBSERVER":
                    s.sendall(b"\x82\x00\x00\x00" + junk)
                    continue
                s.sendall(b"\x83\x00\x00\x01\x82")  # called name not present
                data = b""
            if not data:
                held.remove(s)
                s.close()
'

start_fake() {
  local name=$1 mode=$2 ns=$PREFIX$1 dir=$STATE_ROOT/$1
  case $mode in silent | close | junk | none | silent-dns | nbt-name) ;; *) die "unknown fake '$mode'" ;; esac
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

# ---- Active Directory: a DC and its members -------------------------------

# The domain. The cached provision is made for exactly these values.
REALM=SALES.TEST
DNS_DOMAIN=sales.test
DOMAIN=SALES
DC_HOST=dc1
DC_FQDN=$DC_HOST.$DNS_DOMAIN
DC_SID=S-1-5-21-100-200-300
MEMBER_SID=S-1-5-21-7-8-9
# Throwaway passwords of a domain that exists only inside a namespace.
ADMIN_PASSWORD=Adm1n-Pass.Test
TEST_USER=alice
TEST_PASSWORD=Pw-Alice.123
# Raise when what build_dc_template makes changes.
TEMPLATE=$CACHE_ROOT/dc-template-v1

# Runs a command in namespace `ns` without a controlling terminal, so that
# Python's getpass (samba-tool) reads the password from stdin, not a tty.
in_ns_no_tty() {
  local ns=$1
  shift
  ip netns exec "$ns" setsid -w "$@"
}

# Provisions the domain into the template directory, offline, inside `ns`
# (so that provision's name look-ups stay in the namespace). --interactive
# is the one way to give provision the Administrator password other than
# --adminpass: it reads realm, domain, role, DNS backend and the password
# (twice) from stdin.
build_dc_template() {
  local ns=$1 tmp
  mkdir -p "$CACHE_ROOT"
  tmp=$(mktemp -d "$CACHE_ROOT/.dc-template.XXXXXX")
  printf '%s\n' "$REALM" "$DOMAIN" dc NONE "$ADMIN_PASSWORD" "$ADMIN_PASSWORD" |
    in_ns_no_tty "$ns" samba-tool domain provision --interactive \
      --host-name="$DC_HOST" --domain-sid="$DC_SID" --targetdir="$tmp" \
      >"$tmp/provision.log" 2>&1 ||
    { tail -n 20 "$tmp/provision.log" >&2; rm -rf "$tmp"; die "provision failed"; }
  # A cached provision must not go stale: passwords never expire.
  ip netns exec "$ns" samba-tool domain passwordsettings set --max-pwd-age=0 \
    -s "$tmp/etc/smb.conf" >>"$tmp/provision.log" 2>&1 ||
    { rm -rf "$tmp"; die "cannot set the maximum password age"; }
  create_user "$ns" "$tmp/etc/smb.conf" "$TEST_USER" "$TEST_PASSWORD" ||
    { rm -rf "$tmp"; die "cannot create $TEST_USER"; }
  rm -rf "${tmp:?}/etc"
  # Another start may have made one meanwhile: keep the first.
  mv -T "$tmp" "$TEMPLATE" 2>/dev/null || rm -rf "$tmp"
}

# samba-tool user create prompts twice for the password when it has none.
create_user() {
  local ns=$1 smbconf=$2 user=$3 password=$4 out
  if ! out=$(printf '%s\n%s\n' "$password" "$password" |
       in_ns_no_tty "$ns" samba-tool user create "$user" -s "$smbconf" 2>&1); then
    printf '%s\n' "$out" | grep -v -e 'Password' -e GetPassWarning -e fallback_getpass >&2
    return 1
  fi
}

# The files a test logs on with (see the header), mode 0600.
store_user() {
  local dir=$1 user=$2 password=$3
  mkdir -p "$dir/users"
  (
    umask 077
    printf '%s\n' "$password" >"$dir/users/$user.password"
    printf '%s:%s:%s\n' "$DOMAIN" "$user" "$password" >"$dir/users/$user.ntlm"
    printf 'username = %s\npassword = %s\ndomain = %s\n' "$user" "$password" "$DOMAIN" \
      >"$dir/users/$user.auth"
  )
}

write_dc_conf() {
  local dir=$1
  shift
  cat >"$dir/smb.conf" <<EOF2
[global]
  netbios name = ${DC_HOST^^}
  workgroup = $DOMAIN
  realm = $REALM
  server role = active directory domain controller
  server services = s3fs, rpc, ldap, cldap, kdc, winbindd
  private dir = $dir/private
  lock directory = $dir/lock
  state directory = $dir/state
  cache directory = $dir/cache
  pid directory = $dir/pid
  binddns dir = $dir/bind-dns
  log file = $dir/log/log.%m
  interfaces = 127.0.0.1 ::1
  bind interfaces only = yes
  smb ports = 445
  disable netbios = yes
  tls enabled = no
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
EOF2
  local line
  for line in "$@"; do printf '  %s\n' "$line" >>"$dir/smb.conf"; done
  cat >>"$dir/smb.conf" <<EOF2

[sysvol]
  path = $dir/state/sysvol
  read only = no

[netlogon]
  path = $dir/state/sysvol/$DNS_DOMAIN/scripts
  read only = no
EOF2
}

# For clients in the namespace. With dns_canonicalize_hostname off and
# qualify_shortname, "member1" and "member1.sales.test" both ask for
# cifs/member1.sales.test without any look-up; an address stays an
# address (no principal: SPNEGO goes on with NTLM, if it has that).
write_krb5_conf() {
  local dir=$1
  cat >"$dir/krb5.conf" <<EOF2
[libdefaults]
  default_realm = $REALM
  dns_lookup_kdc = false
  dns_lookup_realm = false
  rdns = false
  dns_canonicalize_hostname = false
  qualify_shortname = $DNS_DOMAIN
  default_ccache_name = FILE:$dir/krb5cc.default

[realms]
  $REALM = {
    kdc = 127.0.0.1
    admin_server = 127.0.0.1
  }

[domain_realm]
  .$DNS_DOMAIN = $REALM
  $DNS_DOMAIN = $REALM
EOF2
}

# For Samba's client tools (-s): their lock, cache and state files go to
# the state directory instead of the host's /run/samba and /var/lib/samba.
write_client_conf() {
  local dir=$1
  mkdir -p "$dir/client"
  cat >"$dir/client.conf" <<EOF2
[global]
  workgroup = $DOMAIN
  realm = $REALM
  private dir = $dir/client
  lock directory = $dir/client
  state directory = $dir/client
  cache directory = $dir/client
  pid directory = $dir/client
  ncalrpc dir = $dir/client/ncalrpc
  log file = $dir/log/log.client
EOF2
}

# Polls until `address`:`port` accepts in `ns` (until the epoch second `until`).
port_open() {
  local ns=$1 until=$2 address=$3 port=$4
  poll_until "$ns" "$until" 0.05 bash -c "exec 3<>/dev/tcp/$address/$port"
}

# Polls until "lsaquery 5" as the test user (NTLM) at `address` answers
# with the domain name `expected`: the logon path works end to end, and
# the answer comes from the server just started.
rpc_as_user() {
  local ns=$1 until=$2 dir=$3 address=$4 expected=$5
  # shellcheck disable=SC2016 # expanded by that bash
  poll_until "$ns" "$until" 0.1 bash -c 'timeout 10 rpcclient -s "$1" -A "$2" \
      --use-kerberos=disabled "$3" -c "lsaquery 5" 2>/dev/null | grep -qx "Domain Name: $4"' \
    sh "$dir/client.conf" "$dir/users/$TEST_USER.auth" "$address" "$expected"
}

# Runs `command...` in `ns` with /run/samba bind-mounted from `dir`/run in a
# mount namespace of its own, which also records its id in `dir`/mntns.
# Extra bind mounts come as SOURCE=TARGET words before "--".
in_own_mounts() {
  local ns=$1 dir=$2
  shift 2
  local mounts=("$dir/run=/run/samba")
  while [ "$1" != -- ]; do mounts+=("$1"); shift; done
  shift
  mkdir -p /run/samba "$dir/run"
  # shellcheck disable=SC2016 # expanded by that sh
  ip netns exec "$ns" unshare -m --propagation private sh -c '
    dir=$1; n=$2; shift 2
    readlink /proc/self/ns/mnt >"$dir/mntns" || exit 1
    while [ "$n" -gt 0 ]; do
      mount --bind "${1%%=*}" "${1#*=}" || exit 1
      shift; n=$((n - 1))
    done
    exec "$@"' sh "$dir" "${#mounts[@]}" "${mounts[@]}" "$@"
}

# Replaces the hosts line of `address` in the DC's namespace (none when
# `names` is empty). Rewritten in place: daemons hold the file's inode.
# (The lock is not in /etc/netns/NS: ip netns exec mounts all files there.)
set_host_entry() {
  local ns=$1 address=$2 names=$3 hosts=/etc/netns/$1/hosts
  (
    flock 9
    local kept
    kept=$(grep -v "^$address " "$hosts" || true)
    { [ -z "$kept" ] || printf '%s\n' "$kept"
      [ -z "$names" ] || printf '%s %s\n' "$address" "$names"; } >"$hosts"
  ) 9>>"$STATE_ROOT/${ns#"$PREFIX"}/hosts.lock"
}

start_dc() {
  local name=$1 conf=()
  shift
  while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || die "$1 needs a value"
    case $1 in
      --conf) conf+=("$2") ;;
      *) die "unknown option $1" ;;
    esac
    shift 2
  done
  command -v samba >/dev/null || die "samba (samba-ad-dc) is not installed"
  local ns=$PREFIX$name dir=$STATE_ROOT/$name started
  [[ $dir != *[[:space:]]* ]] || die "the state directory '$dir' has a space"
  started=$(date +%s%N)
  stop_server "$name"
  rm -rf "$dir"
  make_namespace "$ns" "$DC_FQDN $DC_HOST localhost"
  [ -d "$TEMPLATE" ] || build_dc_template "$ns"
  mkdir -p "$dir"
  cp -a "$TEMPLATE/." "$dir/"
  mkdir -p "$dir"/{lock,pid,log,cache,members}
  write_dc_conf "$dir" ${conf[@]+"${conf[@]}"}
  write_krb5_conf "$dir"
  write_client_conf "$dir"
  store_user "$dir" "$TEST_USER" "$TEST_PASSWORD"

  in_own_mounts "$ns" "$dir" -- samba -M single -s "$dir/smb.conf" ||
    { stop_server "$name"; die "samba did not start"; }
  local until=$(( $(date +%s) + READY_LIMIT_S ))
  if ! port_open "$ns" "$until" 127.0.0.1 88 || ! port_open "$ns" "$until" 127.0.0.1 389 ||
     ! port_open "$ns" "$until" 127.0.0.1 445 ||
     ! rpc_as_user "$ns" "$until" "$dir" 127.0.0.1 "$DOMAIN"; then
    tail -n 20 "$dir"/log/log.* >&2 2>/dev/null || true
    stop_server "$name"
    die "$ns (dc) was not ready within ${READY_LIMIT_S}s"
  fi
  echo "$ns ready: dc host=$DC_FQDN realm=$REALM domain=$DOMAIN sid=$DC_SID" \
    "krb5_config=$dir/krb5.conf user=$TEST_USER ntlm_user_file=$dir/users/$TEST_USER.ntlm" \
    "auth_file=$dir/users/$TEST_USER.auth client_conf=$dir/client.conf" \
    "ms=$(( ($(date +%s%N) - started) / 1000000 ))"
}

# A DC started by "dc": its namespace and state.
need_dc() {
  if ! namespace_exists "$PREFIX$1" || [ ! -f "$STATE_ROOT/$1/krb5.conf" ]; then
    die "no domain controller $1 (start it with: dc $1)"
  fi
}

write_member_conf() {
  local dir=$1 netbios=$2 address=$3
  shift 3
  cat >"$dir/smb.conf" <<EOF2
[global]
  netbios name = $netbios
  workgroup = $DOMAIN
  realm = $REALM
  security = ads
  server role = member server
  password server = $DC_FQDN
  private dir = $dir/private
  lock directory = $dir/lock
  state directory = $dir/state
  cache directory = $dir/cache
  pid directory = $dir/pid
  ncalrpc dir = $dir/ncalrpc
  usershare path = $dir/usershares
  binddns dir = $dir/binddns
  log file = $dir/log/log.%m
  interfaces = $address/8
  bind interfaces only = yes
  smb ports = 445
  disable netbios = yes
  idmap config * : backend = tdb
  idmap config * : range = 3000-7999
  idmap config $DOMAIN : backend = rid
  idmap config $DOMAIN : range = 100000-999999
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
EOF2
  local line
  for line in "$@"; do printf '  %s\n' "$line" >>"$dir/smb.conf"; done
}

# The host's nsswitch.conf with winbind added for users and groups: smbd
# maps a domain user to a Unix account through it.
write_member_nsswitch() {
  sed -E '/^(passwd|group):/ { / winbind( |$)/! s/$/ winbind/ }' /etc/nsswitch.conf \
    >"$1/nsswitch.conf"
}

start_member() {
  local dc=$1 member=$2 address="" sid=$MEMBER_SID conf=()
  shift 2
  while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || die "$1 needs a value"
    case $1 in
      --ip) address=$2 ;;
      --sid) sid=$2 ;;
      --conf) conf+=("$2") ;;
      *) die "unknown option $1" ;;
    esac
    shift 2
  done
  [[ $member =~ ^[A-Za-z][A-Za-z0-9-]{0,14}$ ]] ||
    die "bad member name '$member' (a host name of at most 15 letters, digits, -)"
  [[ $address =~ ^127\.[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}$ && $address != 127.0.0.1 ]] ||
    die "member $member needs --ip 127.x.y.z other than 127.0.0.1 (the DC's)"
  need_dc "$dc"
  local ns=$PREFIX$dc dcdir=$STATE_ROOT/$dc dir=$STATE_ROOT/$dc/members/$member started
  local netbios=${member^^} host=${member,,}
  started=$(date +%s%N)
  stop_member "$dc" "$member"
  ! ip netns exec "$ns" bash -c "exec 3<>/dev/tcp/$address/445" 2>/dev/null ||
    die "$address:445 is in use in $ns (another member?)"
  rm -rf "$dir"
  mkdir -p "$dir"/{private,lock,state,cache,pid,log,ncalrpc,usershares,binddns,run}
  write_member_conf "$dir" "$netbios" "$address" ${conf[@]+"${conf[@]}"}
  write_member_nsswitch "$dir"
  set_host_entry "$ns" "$address" "$host.$DNS_DOMAIN $host"
  write_sid "$dir/smb.conf" "$dir" "$netbios" "$sid"
  # net reads the password from the descriptor that PASSWD_FD names.
  ip netns exec "$ns" env KRB5_CONFIG="$dcdir/krb5.conf" PASSWD_FD=3 \
    net ads join -s "$dir/smb.conf" -S "$DC_FQDN" -U Administrator --no-dns-updates \
    3<<<"$ADMIN_PASSWORD" >"$dir/log/join.log" 2>&1 ||
    { cat "$dir/log/join.log" >&2; set_host_entry "$ns" "$address" ""
      die "$member could not join $REALM"; }

  # shellcheck disable=SC2016 # expanded by that sh
  in_own_mounts "$ns" "$dir" "$dir/nsswitch.conf=/etc/nsswitch.conf" -- \
    sh -c 'winbindd -D -s "$1" && exec smbd -D -s "$1"' sh "$dir/smb.conf" ||
    { stop_member "$dc" "$member"; die "winbindd or smbd of $member did not start"; }
  local until=$(( $(date +%s) + READY_LIMIT_S ))
  if ! port_open "$ns" "$until" "$address" 445 ||
     ! rpc_as_user "$ns" "$until" "$dcdir" "$address" "$netbios"; then
    tail -n 20 "$dir"/log/log.* >&2 2>/dev/null || true
    stop_member "$dc" "$member"
    die "member $member of $ns was not ready within ${READY_LIMIT_S}s"
  fi
  echo "$ns ready: member $member host=$host.$DNS_DOMAIN ip=$address netbios=$netbios" \
    "sid=$sid ms=$(( ($(date +%s%N) - started) / 1000000 ))"
}

# The processes in network namespace `ns` whose mount namespace is `mnt`
# (as readlink shows it: mnt:[INODE]).
member_pids() {
  local ns=$1 inode=${2//[^0-9]/} p paths=()
  for p in $(ip netns pids "$ns" || true); do paths+=("/proc/$p/ns/mnt"); done
  [ ${#paths[@]} -gt 0 ] || return 0
  stat -L -c '%i %n' "${paths[@]}" 2>/dev/null |
    awk -v inode="$inode" '$1 == inode { split($2, part, "/"); print part[3] }'
}

# Stops the processes of one member: those in its mount namespace.
stop_member() {
  local dc=$1 member=$2 ns=$PREFIX$1 dir=$STATE_ROOT/$1/members/$2 mnt pids=()
  [ -f "$dir/mntns" ] || return 0
  mnt=$(cat "$dir/mntns")
  if namespace_exists "$ns"; then
    mapfile -t pids < <(member_pids "$ns" "$mnt")
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    for _ in $(seq 1 40); do
      mapfile -t pids < <(member_pids "$ns" "$mnt")
      [ ${#pids[@]} -gt 0 ] || break
      sleep 0.05
    done
    [ ${#pids[@]} -eq 0 ] || kill -9 "${pids[@]}" 2>/dev/null || true
    local address
    address=$(sed -n 's/^ *interfaces = \(.*\)\/8$/\1/p' "$dir/smb.conf" 2>/dev/null || true)
    [ -z "$address" ] || set_host_entry "$ns" "$address" ""
  fi
  rm -f "$dir/mntns"
}

# A sAMAccountName that is also safe as a file name.
check_user() {
  [[ $1 =~ ^[A-Za-z0-9][A-Za-z0-9._-]{0,19}$ ]] || die "bad user name '$1'"
}

# Another domain user, its password the first line of stdin.
add_user() {
  local dc=$1 user=$2 password
  need_dc "$dc"
  check_user "$user"
  IFS= read -r password || die "user $user: no password on stdin"
  local dir=$STATE_ROOT/$dc
  create_user "$PREFIX$dc" "$dir/smb.conf" "$user" "$password" ||
    die "samba-tool could not create $user"
  store_user "$dir" "$user" "$password"
  echo "$PREFIX$dc user: $user ntlm_user_file=$dir/users/$user.ntlm auth_file=$dir/users/$user.auth"
}

# A ticket for USER@REALM in a FILE: ccache, by kinit inside the namespace.
get_ticket() {
  local dc=$1 user=$2 ccache=${3#FILE:} from_stdin=${4:-} password
  need_dc "$dc"
  check_user "$user"
  local dir=$STATE_ROOT/$dc
  case $from_stdin in
    --password-stdin) IFS= read -r password || password="" ;;
    "") [ -f "$dir/users/$user.password" ] || die "no password known for $user (use --password-stdin)"
        password=$(cat "$dir/users/$user.password") ;;
    *) die "unknown option $from_stdin" ;;
  esac
  ccache=$(realpath -m "$ccache")
  ip netns exec "$PREFIX$dc" env KRB5_CONFIG="$dir/krb5.conf" KRB5CCNAME="FILE:$ccache" \
    kinit "$user@$REALM" <<<"$password" >/dev/null || die "kinit $user@$REALM failed"
  echo "$PREFIX$dc ticket: principal=$user@$REALM ccache=FILE:$ccache krb5_config=$dir/krb5.conf"
}

# Drops TCP packets to a loopback address and port in NAME's namespace.
silence() {
  local name=$1 address=$2 port=$3 ns=$PREFIX$1 family
  namespace_exists "$ns" || die "no namespace $ns"
  if [[ $address =~ ^127\.[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}$ ]]; then
    family=ip
  elif [ "$address" = ::1 ]; then
    family=ip6
  else
    die "silence: $address is not a loopback address"
  fi
  [[ $port =~ ^[0-9]{1,5}$ ]] || die "silence: bad port '$port'"
  command -v nft >/dev/null || die "nft (nftables) is not installed"
  ip netns exec "$ns" nft add table inet kestrin_silence
  ip netns exec "$ns" nft add chain inet kestrin_silence out '{ type filter hook output priority 0; }'
  ip netns exec "$ns" nft add rule inet kestrin_silence out "$family" daddr "$address" tcp dport "$port" drop
}

main() {
  [ $# -ge 1 ] || usage
  check_prefix
  if [ "$1" = where ]; then
    [ $# -eq 2 ] || usage
    check_name "$2"
    echo "$PREFIX$2 $STATE_ROOT/$2"
    return
  fi
  [ "$(id -u)" = 0 ] || die "needs root (ip netns)"
  local command=$1
  shift
  case $command in
    start) [ $# -ge 1 ] || usage; check_name "$1"; start_server "$@" ;;
    fake) [ $# -eq 2 ] || usage; check_name "$1"; start_fake "$1" "$2" ;;
    dc) [ $# -ge 1 ] || usage; check_name "$1"; start_dc "$@" ;;
    member) [ $# -ge 2 ] || usage; check_name "$1"; start_member "$@" ;;
    user) [ $# -eq 2 ] || usage; check_name "$1"; add_user "$1" "$2" ;;
    kinit) [ $# -eq 3 ] || [ $# -eq 4 ] || usage; check_name "$1"; get_ticket "$@" ;;
    silence) [ $# -eq 3 ] || usage; check_name "$1"; silence "$@" ;;
    stop)
      [ $# -eq 1 ] || [ $# -eq 2 ] || usage
      check_name "$1"
      if [ $# -eq 2 ]; then stop_member "$1" "$2"; else stop_server "$1"; fi ;;
    stopall)
      local ns
      for ns in $(ip netns list | awk '{print $1}'); do
        [[ $ns != "$PREFIX"* ]] || stop_server "${ns#"$PREFIX"}"
      done ;;
    *) usage ;;
  esac
}

main "$@"
