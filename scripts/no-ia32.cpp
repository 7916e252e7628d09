// SPDX-License-Identifier: Apache-2.0
// no-ia32 COMMAND [ARGUMENT]...
//
// Runs COMMAND as on a kernel without IA32 emulation: every 32-bit x86
// process among it and its children is killed at its first system call (a
// seccomp filter on the call's architecture), as such a kernel refuses to
// start one; 64-bit processes, qemu-user among them, run as always. The test
// run uses it to take the 32-bit Wine's emulated way, chosen as on such a
// machine (scripts/test.sh).
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: no-ia32 COMMAND [ARGUMENT]...\n");
    return 2;
  }
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program = {sizeof filter / sizeof filter[0], filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    std::perror("no-ia32: seccomp");
    return 2;
  }
  execvp(argv[1], argv + 1);
  std::perror(argv[1]);
  return 127;
}
