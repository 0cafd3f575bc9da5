/* Preloaded into Wine's 32-bit loader when it runs under qemu-i386 user
 * emulation (machines whose kernel refuses 32-bit code). It mends two
 * things qemu 7.2 gets wrong that Wine depends on. Built twice, with a
 * no-op 64-bit twin, because the native processes Wine starts inherit
 * LD_PRELOAD. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stddef.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <ucontext.h>

#if defined(__i386__)

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

/* qemu takes MAP_FIXED_NOREPLACE as a plain hint and maps elsewhere. Wine
 * reserves its address space with it, keeps the wrong blocks and retries
 * forever. Map without the flag and fail as the kernel would when the
 * place asked for is not the place given. */
typedef void *(*mmap64_fn)(void *, size_t, int, int, int, off64_t);

void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
    static mmap64_fn real;
    if (!real) real = (mmap64_fn)dlsym(RTLD_NEXT, "mmap64");
    if (!(flags & MAP_FIXED_NOREPLACE)) return real(addr, len, prot, flags, fd, off);
    void *got = real(addr, len, prot, flags & ~MAP_FIXED_NOREPLACE, fd, off);
    if (got == MAP_FAILED || got == addr) return got;
    munmap(got, len);
    errno = EEXIST;
    return MAP_FAILED;
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
    return mmap64(addr, len, prot, flags, fd, off);
}

/* qemu delivers fault signals with the trap number at -1. Wine reads it to
 * tell a page fault from an illegal instruction, so every handled fault
 * (IsBadReadPtr, guard pages, Wine's own __TRY blocks) became a crash.
 * Set the number the kernel would have set, then call Wine's handler. */
typedef void (*handler_fn)(int, siginfo_t *, void *);
static handler_fn wine_handlers[NSIG];

static int trap_number(int sig, const siginfo_t *info)
{
    switch (sig) {
    case SIGSEGV: return info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR ? 14 : 13;
    case SIGILL: return 6;
    case SIGBUS: return 17;
    case SIGTRAP: return info->si_code == TRAP_TRACE ? 1 : 3;
    case SIGFPE: return info->si_code == FPE_INTDIV ? 0 : info->si_code == FPE_INTOVF ? 4 : 16;
    default: return -1;
    }
}

/* Runs on Wine's signal stack, possibly amid Windows code: no errno, no
 * other thread-local state, nothing but the context. */
static void mend_trap(int sig, siginfo_t *info, void *context)
{
    ucontext_t *uc = context;
    if (uc->uc_mcontext.gregs[REG_TRAPNO] == -1)
        uc->uc_mcontext.gregs[REG_TRAPNO] = trap_number(sig, info);
    wine_handlers[sig](sig, info, context);
}

typedef int (*sigaction_fn)(int, const struct sigaction *, struct sigaction *);

int sigaction(int sig, const struct sigaction *act, struct sigaction *old)
{
    static sigaction_fn real;
    if (!real) real = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
    int fault = sig == SIGSEGV || sig == SIGILL || sig == SIGBUS || sig == SIGTRAP || sig == SIGFPE;
    if (!fault || !act || !(act->sa_flags & SA_SIGINFO)) return real(sig, act, old);
    struct sigaction mended = *act;
    wine_handlers[sig] = act->sa_sigaction;
    mended.sa_sigaction = mend_trap;
    return real(sig, &mended, old);
}

#endif
