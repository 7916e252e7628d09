#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Runs the 32-bit Wine loader (wine32:i386, /usr/lib/wine/wine) with the
# arguments given, natively or under user-mode emulation:
#
#   wine-i686.sh PROGRAM.exe [ARGUMENT]...   runs it (environment as for wine)
#   wine-i686.sh --way                       prints the way it would run:
#                                            "native" or "emulated"; exits 1,
#                                            with the reason, when neither works
#
# KESTRIN_I686_EMULATION chooses the way:
#   auto (or unset)  natively where the kernel runs 32-bit x86 programs
#                    (IA32 emulation; some kernels have it off and refuse
#                    them with "Exec format error"), emulated where it does not
#   qemu             emulated, even where the kernel could run it natively
#   native           natively, even where the kernel refuses it
#
# Emulated, the loader runs under qemu-i386 (qemu-user 10.0 from Debian 12's
# backports: scripts/packages.txt; any from 8.0 on, below), started
# explicitly: no binfmt_misc registration is needed. Only the 32-bit program
# runs under emulation. The Wine prefix is a 64-bit one (made by the 64-bit
# loader, as the 32-bit loader itself makes a new prefix), so the processes
# Wine starts on its own (wineboot, services, conhost) are 64-bit programs
# the kernel runs, and the wineserver is the native 64-bit one, shared with
# native runs: its protocol is the same for 32- and 64-bit clients.
#
# WINELOADERNOEXEC=1: the loader normally re-executes itself (through the
# preloader, which Debian does not ship, else directly); the kernel would run
# that new 32-bit process natively, or refuse it. Set, the loader goes on in
# the emulated process. (Wine sets it itself for the re-executed loader, so
# natively every Wine process has it set too.)
#
# qemu-user before 8.0, Debian 12's own 7.2 among them, is refused: it keeps
# one emulated GDT for all the threads of a process, so a thread that sets
# its TLS descriptor (set_thread_area, or clone's CLONE_SETTLS) sets every
# thread's. The 32-bit Wine points %fs of each thread at that thread's TEB
# through one such descriptor (and glibc %gs at its TLS); an older thread
# keeps its cached segment base until it next loads %fs, which the return
# from a signal handler does, and from then on runs on the newest thread's
# TEB. So the first signal (the wineserver's SIGUSR1) or exception after a
# second thread has started kills the process (SIGSEGV, status 139; "wine
# client error: partial write"; or a wait on itself that never ends), and
# every query that logs on with Kerberos or NTLM, or looks a name up,
# starts a thread. qemu 8.0 gives each thread a GDT of its own ("linux-user:
# fix bug about incorrect base addresss of gdt on i386 and x86_64").
set -u
loader=/usr/lib/wine/wine
qemu=qemu-i386
qemu_oldest=8

# Why $qemu cannot run the 32-bit Wine (on standard error, status 1), or
# nothing.
qemu_fit() {
  command -v "$qemu" >/dev/null ||
    { echo "$qemu is missing (install qemu-user/bookworm-backports)" >&2; return 1; }
  local version
  version=$("$qemu" --version | sed -n '1s/^qemu-i386 version \([0-9.]*\).*/\1/p')
  [ "${version%%.*}" -ge "$qemu_oldest" ] 2>/dev/null && return 0
  echo "$qemu is ${version:-of an unknown version}, older than $qemu_oldest.0: the 32-bit Wine dies" \
    "under it once the program starts a thread (install qemu-user/bookworm-backports)" >&2
  return 1
}

# The way to run, or the reason there is none (on standard error, status 1).
way() {
  case ${KESTRIN_I686_EMULATION:-auto} in
    native) echo native ;;
    qemu)
      qemu_fit || return 1
      echo emulated ;;
    auto)
      if "$loader" --version >/dev/null 2>&1; then
        echo native
      elif qemu_fit 2>/dev/null; then
        echo emulated
      else
        echo "the kernel runs no 32-bit x86 program (IA32 emulation off?), and: $(qemu_fit 2>&1)" >&2
        return 1
      fi ;;
    *)
      echo "KESTRIN_I686_EMULATION=${KESTRIN_I686_EMULATION}: not auto, qemu or native" >&2
      return 1 ;;
  esac
}

[ -e "$loader" ] || { echo "no 32-bit Wine ($loader): install wine32:i386 (dpkg --add-architecture i386 first)" >&2; exit 1; }
how=$(way) || exit 1
if [ "${1:-}" = --way ]; then
  echo "$how"
  exit 0
fi
case $how in
  native) exec "$loader" "$@" ;;
  emulated) WINELOADERNOEXEC=1 exec "$qemu" "$loader" "$@" ;;
esac
