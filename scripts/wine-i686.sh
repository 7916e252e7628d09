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
# Emulated, the loader runs under Debian's qemu-i386-static (qemu-user-static),
# started explicitly: no binfmt_misc registration is needed. Only the 32-bit
# program runs under emulation. The Wine prefix is a 64-bit one (made by the
# 64-bit loader, as the 32-bit loader itself makes a new prefix), so the
# processes Wine starts on its own (wineboot, services, conhost) are 64-bit
# programs the kernel runs, and the wineserver is the native 64-bit one,
# shared with native runs: its protocol is the same for 32- and 64-bit clients.
#
# Two settings make Wine work under qemu 7.2 (Debian 12):
#   WINELOADERNOEXEC=1  the loader normally re-executes itself (through the
#       preloader, which Debian does not ship, else directly); the kernel
#       would run that new 32-bit process natively, or refuse it. Set, the
#       loader goes on in the emulated process. (Wine sets it itself for the
#       re-executed loader, so natively every Wine process has it set too.)
#   -R 0x81000000  the guest's address space: 2 GiB and 16 MiB, room for
#       Windows' 2 GiB user space, the shared user data page at 0x7ffe0000
#       and the loader at 0x7d000000. Without the preloader Wine reserves
#       the address space above 2 GiB with MAP_FIXED_NOREPLACE, which qemu
#       7.2 does not know and takes as a mere hint: every attempt lands
#       elsewhere and fails, and Wine splits the range down to 64 KiB pieces,
#       some 130000 slow calls over a 4 GiB guest space, over two minutes for
#       each program started. With this space it starts in about 3 s.
#
# What does not work emulated: once the 32-bit program has started a second
# thread, its first signal (the wineserver's SIGUSR1) or exception is handled
# with the wrong thread's state, and the process dies (SIGSEGV, status 139,
# or "wine client error: partial write", status 0, its output cut short).
# Making Wine give each thread an LDT selector of its own for %fs, instead of
# the one GDT slot that qemu keeps per process, changes nothing. The callers
# leave such tests out when emulated, and count them as skipped.
set -u
loader=/usr/lib/wine/wine
qemu=qemu-i386-static

# The way to run, or the reason there is none (on standard error, status 1).
way() {
  case ${KESTRIN_I686_EMULATION:-auto} in
    native) echo native ;;
    qemu)
      command -v "$qemu" >/dev/null ||
        { echo "KESTRIN_I686_EMULATION=qemu, but $qemu is missing (install qemu-user-static)" >&2; return 1; }
      echo emulated ;;
    auto)
      if "$loader" --version >/dev/null 2>&1; then
        echo native
      elif command -v "$qemu" >/dev/null; then
        echo emulated
      else
        echo "the kernel runs no 32-bit x86 program (IA32 emulation off?) and $qemu is missing (install qemu-user-static)" >&2
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
  emulated) WINELOADERNOEXEC=1 exec "$qemu" -R 0x81000000 "$loader" "$@" ;;
esac
