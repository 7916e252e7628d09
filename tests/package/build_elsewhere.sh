#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The same sources built and packaged a second time, somewhere else: the
# checkout's commit fetched into another folder of another name, with the
# checkout's uncommitted changes and new files applied, under another umask
# and time zone; configured as BUILD-DIR was (its generator, build type,
# toolchain and options), in a build folder of its own, only the program
# built, and packaged with `cpack -G GENERATOR`. Packages of the same
# sources must be the same bytes, wherever and whenever they are made
# (compare_packages.py says where two differ).
# Usage: build_elsewhere.sh SOURCE BUILD-DIR GENERATOR WORK-DIR
# Prints the package's path; everything below WORK-DIR is the caller's to
# remove. Exit status 77 when SOURCE is no git checkout (nothing to fetch).
set -uo pipefail
source=$(realpath "$1") build=$(realpath "$2") generator=$3 work=$4
copy=$work/kestrin-sources-once-more
objects=$work/another-build
log=$work/build-elsewhere.log

git -C "$source" rev-parse --verify -q HEAD >/dev/null || exit 77
# As someone else would build: another umask, another time zone.
umask 077
export TZ=Pacific/Kiritimati
mkdir -p "$work" || exit 1
failed() {
  echo "build_elsewhere: $1 failed:" >&2
  tail -25 "$log" >&2
  exit 1
}

{
  git init -q "$copy" && git -C "$copy" fetch -q "$source" HEAD &&
    git -C "$copy" -c advice.detachedHead=false checkout -q FETCH_HEAD
} >"$log" 2>&1 || failed "fetching HEAD of $source"
if ! git -C "$source" diff --quiet HEAD; then
  git -C "$source" diff --binary HEAD | git -C "$copy" apply >>"$log" 2>&1 ||
    failed "applying the uncommitted changes"
fi
(cd "$source" && git ls-files -z --others --exclude-standard | tar --null -T - -cf -) |
  tar -xf - -C "$copy" 2>>"$log" || failed "copying the new files"

# The first build's settings, its paths inside the sources moved to the copy.
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
settings=()
for name in CMAKE_BUILD_TYPE CMAKE_CXX_FLAGS CMAKE_EXE_LINKER_FLAGS CMAKE_TOOLCHAIN_FILE \
            KESTRIN_WERROR KESTRIN_SANITIZE KESTRIN_SHARED_CXX_RUNTIME KESTRIN_PACKAGE_MAINTAINER; do
  if grep -q "^$name:" "$build/CMakeCache.txt"; then
    value=$(cached "$name")
    settings+=("-D$name=${value/#$source\//$copy/}")
  fi
done
cmake -S "$copy" -B "$objects" -G "$(cached CMAKE_GENERATOR)" -DKESTRIN_TESTS=OFF "${settings[@]}" \
  >>"$log" 2>&1 || failed "configuring the copy"
cmake --build "$objects" --target kestrin -j 2 >>"$log" 2>&1 || failed "building the copy"
cpack -G "$generator" --config "$objects/CPackConfig.cmake" -B "$work/packages" >>"$log" 2>&1 ||
  failed "cpack -G $generator of the copy"
packages=("$work"/packages/kestrin[-_]*.*)
[ -f "${packages[0]}" ] && [ ${#packages[@]} -eq 1 ] || failed "finding the one package"
echo "${packages[0]}"
