#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Records anew the conversations that the replay tests use (tests/data/*.txt)
# against real Samba servers in namespaces, with kestrin_query_probe
# --record: when what the tool sends changes, the recorded answers no longer
# fit it (the 3.1.1 preauth hash covers our NEGOTIATE, and every signature
# the key derived from it). Needs root and a build in build/.
# Usage: scripts/record-conversations.sh [BUILD_DIR [FILE...]]
# With FILEs (names in tests/data), only those are recorded anew.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
probe=${1:-$root/build}/tests/integration/kestrin_query_probe
shift $(( $# > 0 ? 1 : 0 ))
only=("$@")
servers="$root/scripts/test-servers.sh"
data="$root/tests/data"
[ -x "$probe" ] || { echo "no $probe: build first" >&2; exit 1; }
where() { bash "$servers" where "$1" | cut -d' ' -f"$2"; }  # NAME 1: namespace, 2: state

trap 'for s in rec rec302 recra2 rec1 rec2 recad; do bash "$servers" stop $s >/dev/null 2>&1 || true; done' EXIT

# record NAMESPACE FILE CREDENTIALS TARGET HEADER: one query, its frames,
# random bytes, tokens and key in FILE behind HEADER's comment lines.
record() {
  local ns=$1 file=$2 credentials=$3 target=$4 header=$5 raw
  [ ${#only[@]} -eq 0 ] || [[ " ${only[*]} " == *" $file "* ]] || return 0
  raw=$(mktemp)
  # shellcheck disable=SC2086  # CREDENTIALS is a list of NAME=VALUE words
  ip netns exec "$(where "$ns" 1)" env $credentials "$probe" --record "$raw" "$target" |
    sed "s|^|  $file: |"
  { printf '%s\n' "$header" | sed 's/^/# /; s/ *$//'
    printf '#\n# Format: src/testing/test_conversation.h. Made by scripts/record-conversations.sh.\n'
    grep -v '^#' "$raw"; } >"$data/$file"
  rm -f "$raw"
}

bash "$servers" start rec --netbios SALES --sid S-1-5-21-100-200-300 >/dev/null
bash "$servers" start rec302 --netbios SALES --sid S-1-5-21-100-200-300 \
  --conf 'server max protocol = SMB3_02' >/dev/null
bash "$servers" start recra2 --netbios SALES --sid S-1-5-21-100-200-300 \
  --conf 'restrict anonymous = 2' --ready tcp >/dev/null
bash "$servers" start rec1 --netbios SALES --sid S-1-5-21-100-200-300 \
  --conf 'smb2 max credits = 1' >/dev/null
bash "$servers" start rec2 --netbios SALES --sid S-1-5-21-100-200-300 \
  --conf 'smb2 max credits = 2' >/dev/null
none="KRB5CCNAME=FILE:/nonexistent NTLM_USER_FILE="
record rec samba_sales_lsa.txt "$none" 127.0.0.1 "One account-domain query against Samba 4.17 (standalone, netbios name SALES,
SID S-1-5-21-100-200-300) on 127.0.0.1:445, dialect 3.1.1, with no credentials
around: the anonymous logon. Frames: NEGOTIATE; SESSION_SETUP (MORE_PROCESSING);
SESSION_SETUP; TREE_CONNECT + CREATE + IOCTL(BIND) as one compound; IOCTL
(LsarOpenPolicy2); IOCTL(LsarQueryInformationPolicy, level 5)."
record rec302 samba_sales_302.txt "$none" 127.0.0.1 "The same against a server whose highest dialect is 3.0.2
(server max protocol = SMB3_02): the same six round trips."
record recra2 samba_sales_denied.txt "$none" 127.0.0.1 "The same against a server with restrict anonymous = 2: the anonymous session
is set up, then TREE_CONNECT IPC\$ is refused with STATUS_ACCESS_DENIED and the
CREATE and IOCTL chained after it fail too."
record rec1 samba_sales_credits1.txt "$none" 127.0.0.1 "The same against a server that grants one credit at a time (smb2 max credits =
1): TREE_CONNECT, CREATE and the BIND each alone, the CREATE with the TreeId
and the BIND with the FileId of the answers before; eight round trips."
record rec2 samba_sales_credits2.txt "$none" 127.0.0.1 "The same with two credits at a time (smb2 max credits = 2): TREE_CONNECT alone,
then CREATE + BIND related (answered in two frames); seven round trips."

# The domain: members that refuse anonymous callers and require signing, at
# each dialect ceiling, and members that require encryption.
bash "$servers" dc recad >/dev/null
member() {  # NAME IP SID [conf...]
  local name=$1 ip=$2 sid=$3 conf=()
  shift 3
  for line in 'restrict anonymous = 2' 'server signing = mandatory' "$@"; do
    conf+=(--conf "$line")
  done
  bash "$servers" member recad "$name" --ip "$ip" --sid "$sid" "${conf[@]}" >/dev/null
}
member member1 127.0.0.2 S-1-5-21-7-8-9
member member2 127.0.0.3 S-1-5-21-7-8-10 'server max protocol = SMB2_10'
member member3 127.0.0.4 S-1-5-21-7-8-11 'server max protocol = SMB3_02'
member member5 127.0.0.6 S-1-5-21-7-8-13 'server smb encrypt = required'
member member7 127.0.0.8 S-1-5-21-7-8-15 'server smb encrypt = required' \
  'server smb3 encryption algorithms = AES-256-GCM'
member member8 127.0.0.10 S-1-5-21-7-8-16 'server smb encrypt = required' \
  'server smb3 encryption algorithms = AES-256-CCM'
member member9 127.0.0.11 S-1-5-21-7-8-17 'server smb encrypt = required' \
  'server max protocol = SMB3_02'
member member10 127.0.0.12 S-1-5-21-7-8-18 '[IPC$]' 'smb encrypt = required'
member member11 127.0.0.13 S-1-5-21-7-8-19 'server max protocol = SMB3_02' 'smb2 max credits = 1'
member member12 127.0.0.14 S-1-5-21-7-8-20 'smb2 max credits = 1' '[IPC$]' 'smb encrypt = required'
state=$(where recad 2)
bash "$servers" kinit recad alice "$state/record.ccache" >/dev/null
krb="KRB5_CONFIG=$state/krb5.conf KRB5CCNAME=FILE:$state/record.ccache NTLM_USER_FILE="
ntlm="KRB5_CONFIG=$state/krb5.conf KRB5CCNAME=FILE:/nonexistent NTLM_USER_FILE=$state/users/alice.ntlm"
domain="MEMBERn is a Samba 4.17 member of the AD domain SALES.TEST that refuses anonymous
callers and requires signing; the throwaway test domain of scripts/test-servers.sh,
whose key opens only this recorded session."

record recad krb5_member1_311.txt "$krb" member1 "One query with a Kerberos ticket of SALES\\alice to MEMBER1 by its name:
dialect 3.1.1, AES-GMAC signing, five round trips.
$domain"
record recad ntlm_member1_311.txt "$ntlm" 127.0.0.2 "One query as SALES\\alice through NTLM (NTLM_USER_FILE) to MEMBER1 by its
address: dialect 3.1.1, AES-GMAC signing, six round trips.
$domain"
record recad ntlm_member3_302.txt "$ntlm" 127.0.0.4 "One query through NTLM to MEMBER3 (server max protocol = SMB3_02): dialect
3.0.2, AES-CMAC signing, VALIDATE_NEGOTIATE_INFO sent with LsarOpenPolicy2.
$domain"
record recad ntlm_member2_210.txt "$ntlm" 127.0.0.3 "One query through NTLM to MEMBER2 (server max protocol = SMB2_10): dialect 2.1,
HMAC-SHA256 signing.
$domain"
record recad krb5_member5_311_aes128gcm.txt "$krb" member5 "One query with Kerberos to MEMBER5 (server smb encrypt = required): 3.1.1,
everything after the logon in AES-128-GCM.
$domain"
record recad krb5_member7_311_aes256gcm.txt "$krb" member7 "One query with Kerberos to MEMBER7 (encryption required, AES-256-GCM only):
3.1.1, its keys from the whole 32-byte Kerberos session key.
$domain"
record recad ntlm_member8_311_aes256ccm.txt "$ntlm" 127.0.0.10 "One query through NTLM to MEMBER8 (encryption required, AES-256-CCM only):
3.1.1, its keys from the 16-byte NTLM session key.
$domain"
record recad ntlm_member9_302_aes128ccm.txt "$ntlm" 127.0.0.11 "One query through NTLM to MEMBER9 (encryption required, server max protocol =
SMB3_02): AES-128-CCM, validation in an encrypted frame.
$domain"
record recad krb5_member10_311_ipc_encrypted.txt "$krb" member10 "One query with Kerberos to MEMBER10, whose IPC\$ alone requires encryption: the
TREE_CONNECT answer says so after the CREATE and BIND sent with it were
refused; they go again, encrypted (AES-128-GCM): six round trips.
$domain"
record recad ntlm_member11_302_credits1.txt "$ntlm" 127.0.0.13 "One query through NTLM to MEMBER11 (server max protocol = SMB3_02, smb2 max
credits = 1): dialect 3.0.2, every request alone, VALIDATE_NEGOTIATE_INFO in a
frame of its own before LsarOpenPolicy2; nine round trips.
$domain"
record recad krb5_member12_311_ipc_encrypted_credits1.txt "$krb" member12 "One query with Kerberos to MEMBER12, whose IPC\$ alone requires encryption and
which grants one credit at a time: the TREE_CONNECT goes alone, so CREATE and
BIND go once, encrypted (AES-128-GCM); seven round trips.
$domain"
