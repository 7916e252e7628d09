#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Debian package: makes it from a native build (cpack -G DEB), inspects
# it (dpkg-deb -c and -I: the files, the section, and a dependency for every
# shared library the program is linked against; its changelog), runs lintian
# on it (any error or warning fails), builds the same sources again from a
# copy in another folder and compares the two packages byte for byte
# (build_elsewhere.sh; skipped outside a git checkout), installs it with
# apt, runs /usr/bin/kestrin against a test server in a network namespace,
# and removes it again, leaving the machine's packages and
# /etc/nsswitch.conf as they were.
# Usage: package_test.sh BUILD-DIR
# Installing needs root, apt and smbd, and skips itself without them, or
# when a kestrin package is installed already (that one is left alone).
# apt waits for the package lock that another apt may hold. KESTRIN_TEST_SERVER
# names the test server (default "package"), so that runs side by side do
# not meet.
set -uo pipefail
build=$(realpath "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
servers=$root/scripts/test-servers.sh
server=${KESTRIN_TEST_SERVER:-package}
apt=(apt-get -o DPkg::Lock::Timeout=600 -y -q)

. "$root/tests/product_checks.sh"
finish() {
  echo "package: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

work=$(mktemp -d)
chmod 755 "$work"  # apt reads the package as its own user
cleanup() {
  if [ -n "${installed:-}" ]; then "${apt[@]}" remove kestrin >/dev/null 2>&1; fi
  if [ -n "${started:-}" ]; then bash "$servers" stop "$server" >/dev/null 2>&1; fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- the package and what it holds
log=$(cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" 2>&1)
debs=("$work"/kestrin_*.deb)
[ -f "${debs[0]}" ] && [ ${#debs[@]} -eq 1 ]
verdict "cpack -G DEB makes one kestrin_*.deb" $? "$log"
[ -f "${debs[0]}" ] || finish
deb=${debs[0]}

contents=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $NF }')
for want in '-rwxr-xr-x root/root ./usr/bin/kestrin' \
            '-rw-r--r-- root/root ./usr/share/man/man1/kestrin.1.gz' \
            '-rw-r--r-- root/root ./usr/share/doc/kestrin/copyright' \
            '-rw-r--r-- root/root ./usr/share/doc/kestrin/changelog.gz'; do
  grep -qxF -- "$want" <<<"$contents"
  verdict "holds ${want##* }" $? "$contents"
done
stray=$(awk '$3 !~ /^\.\/usr\// || $3 ~ /^\.\/usr\/share\/man\/.*\.[1-9]$/' <<<"$contents")
[ -z "$stray" ]
verdict "everything below /usr, no manual page left uncompressed" $? "$stray"

field() { dpkg-deb -f "$deb" "$1"; }
version=$(sed -n 's/^project(kestrin VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$(field Package)" = kestrin ] && [ "$(field Version)" = "$version" ] && [ "$(field Section)" = net ]
verdict "Package kestrin, Version $version, Section net" $? "$(dpkg-deb -I "$deb")"
# The changelog's latest entry is this version's, and its maintainer the
# package's.
latest=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/kestrin/changelog.gz 2>/dev/null |
         gzip -dc 2>/dev/null | dpkg-parsechangelog -l - -S Version 2>&1)
[ "$latest" = "$version" ]
verdict "changelog's latest entry is version $version" $? "latest entry: $latest"
contact='^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$'
[[ $(field Maintainer) =~ $contact ]]
verdict "Maintainer is a name and a mail address" $? "Maintainer: $(field Maintainer)"
# Every shared library the program needs, by the package that holds it.
depends=$(field Depends)
while read -r path; do
  owner=
  for candidate in "$path" "/usr$path" "${path#/usr}"; do
    owner=$(dpkg -S "$candidate" 2>/dev/null | sed -n '1s/[:,].*//p') && [ -n "$owner" ] && break
  done
  [[ -n $owner && ", $depends," =~ ,\ "$owner"[\ ,] ]]
  verdict "Depends names ${owner:-the package of $path} (for ${path##*/})" $? "Depends: $depends"
done < <(ldd "$build/kestrin" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }' |
         grep -F -f <(readelf -d "$build/kestrin" | sed -n 's/.*Shared library: \[\(.*\)\]/\/\1/p'))
# The GSSAPI library is loaded at run time, not linked: named all the same.
[[ ", $depends," =~ ,\ libgssapi-krb5-2[\ ,] ]]
verdict "Depends names libgssapi-krb5-2 (loaded when a logon needs it)" $? "Depends: $depends"

# --- lintian, Debian's package checker: no error, no warning
if command -v lintian >/dev/null; then
  lint=$(lintian --tag-display-limit 0 "$deb" 2>&1)
  ! grep -Eq '^[EW]: ' <<<"$lint"
  verdict "lintian: no error, no warning" $? "$lint"
else
  verdict "lintian: no error, no warning" 1 "lintian is missing (scripts/packages.txt has it)"
fi

# --- the same sources, built again elsewhere: the same bytes
# A copy of the sources in another folder, built in another build folder,
# later: any path, time or order of the machine that reaches the package
# shows here, by the members it changed.
other=$(bash "$root/tests/package/build_elsewhere.sh" "$root" "$build" DEB "$work/elsewhere" \
        2>"$work/elsewhere.err")
case $? in
  0) cmp -s "$deb" "$other"
     verdict "a second build in another folder makes the same .deb, byte for byte" $? \
       "$(python3 "$root/tests/package/compare_packages.py" "$deb" "$other")" ;;
  77) echo "skipped: the second build (the sources are no git checkout)" ;;
  *) verdict "a second build in another folder makes a .deb" 1 "$(cat "$work/elsewhere.err")" ;;
esac

# --- installed with apt, run, removed
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null || ! command -v smbd >/dev/null; then
  echo "skipped: installing the package (needs root, apt-get and smbd)"
  finish
fi
# Runs in two clones on one machine take turns from here to the removal.
exec 9>/var/lock/kestrin-package-test.lock
flock 9
if dpkg-query -W -f='${Status}' kestrin 2>/dev/null | grep -q ' installed$'; then
  echo "skipped: installing the package (a kestrin package is installed already)"
  finish
fi
cp /etc/nsswitch.conf "$work/nsswitch.conf"
log=$("${apt[@]}" install --no-install-recommends "$deb" 2>&1)
verdict "apt-get install $(basename "$deb")" $? "$log"
installed=1
verify=$(dpkg -V kestrin 2>&1)
[ -z "$verify" ] && [ -x /usr/bin/kestrin ] && [ -f /usr/share/man/man1/kestrin.1.gz ]
verdict "installed files in place, matching their checksums" $? "$verify"

ask_test_server /usr/bin/kestrin

log=$("${apt[@]}" remove kestrin 2>&1)
verdict "apt-get remove kestrin" $? "$log"
installed=
! dpkg-query -W -f='${Status}' kestrin 2>/dev/null | grep -q ' installed$' && [ ! -e /usr/bin/kestrin ]
verdict "removed: no package, no /usr/bin/kestrin" $?
if cmp -s /etc/nsswitch.conf "$work/nsswitch.conf"; then
  verdict "/etc/nsswitch.conf as it was" 0
else
  cp "$work/nsswitch.conf" /etc/nsswitch.conf
  verdict "/etc/nsswitch.conf as it was (apt changed it; put back)" 1
fi
finish
