/* Runs a command as on a machine whose kernel does not run 32-bit programs:
 * every system call of the i386 architecture kills the process that makes
 * it, so a 32-bit program (the 32-bit Wine loader among them) dies at its
 * first call, as one that the kernel refuses never starts. 64-bit programs
 * are not touched. The filter passes to every child and cannot be removed. */
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    if (argc < 2) {
        fprintf(stderr, "usage: without-32bit COMMAND [ARGS...]\n");
        return 2;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        perror("without-32bit: seccomp");
        return 127;
    }
    execvp(argv[1], argv + 1);
    perror(argv[1]);
    return 127;
}
