#include "player/probe/Confine.h"

#include <seccomp.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

// A sanitizer's shadow memory takes terabytes of address space, so its
// builds go without the address-space limit. GCC names the sanitizers with
// macros, clang through __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZARN_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZARN_SANITIZED 1
#endif
#endif
#ifndef ZARN_SANITIZED
#define ZARN_SANITIZED 0
#endif

namespace probe {

namespace {

std::string Failed(const char* what, int err) {
    return std::string(what) + ": " + std::strerror(err);
}

bool Limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit limit{soft, hard};
    return ::setrlimit(resource, &limit) == 0;
}

// What reading, decoding and answering need: memory, threads and their
// synchronisation, time, signals for the process itself, and I/O on
// descriptors already open. Nothing makes a socket that could reach
// anything, connects, runs a program, traces or writes a file.
constexpr const char* kAllowed[] = {
    "read",
    "readv",
    "pread64",
    "preadv",
    "write",
    "writev",
    "recvmsg",
    "recvfrom",
    "sendmsg",
    "sendto",
    "close",
    "fstat",
    "newfstatat",
    "statx",
    "stat",
    "lstat",
    "lseek",
    "mmap",
    "munmap",
    "mprotect",
    "mremap",
    "madvise",
    "brk",
    "futex",
    "futex_waitv",
    "set_robust_list",
    "get_robust_list",
    "rseq",
    "set_tid_address",
    "exit",
    "exit_group",
    "rt_sigaction",
    "rt_sigprocmask",
    "rt_sigreturn",
    "sigaltstack",
    "gettid",
    "getpid",
    "getppid",
    "getuid",
    "geteuid",
    "getgid",
    "getegid",
    "getresuid",
    "getresgid",
    "clock_gettime",
    "clock_getres",
    "clock_nanosleep",
    "nanosleep",
    "gettimeofday",
    "time",
    "poll",
    "ppoll",
    "eventfd2",
    "pipe2",
    "dup",
    "dup3",
    "getrandom",
    "sched_yield",
    "sched_getaffinity",
    "sched_getparam",
    "sched_getscheduler",
    "sched_get_priority_max",
    "sched_get_priority_min",
    "getrusage",
    "faccessat",
    "faccessat2",
    "access",
    "readlink",
    "readlinkat",
    "getcwd",
    "uname",
    "sysinfo",
    "fstatfs",
    "statfs",
    "getdents64",
    "membarrier",
    "restart_syscall",
    "shutdown",
};

// One argument's test: the argument's value (masked by a for MASKED_EQ)
// compared with b, or with a for the other operators.
scmp_arg_cmp Arg(unsigned arg, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0) {
    return scmp_arg_cmp{arg, op, a, b};
}

std::string Filter() {
    scmp_filter_ctx ctx = ::seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (!ctx)
        return "seccomp_init failed";
    int rc = 0;
    auto allow = [&](const char* name, std::initializer_list<scmp_arg_cmp> args = {}) {
        const int nr = ::seccomp_syscall_resolve_name(name);
        if (nr == __NR_SCMP_ERROR || rc != 0)
            return; // not a call of this architecture
        rc = ::seccomp_rule_add_array(ctx, SCMP_ACT_ALLOW, nr, static_cast<unsigned>(args.size()),
                                      args.size() ? args.begin() : nullptr);
    };
    for (const char* name : kAllowed)
        allow(name);
    // Opening only for reading (the source opens its descriptor's own file
    // by its name under /proc, and a library may read its data files).
    const scmp_datum_t writing = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;
    allow("openat", {Arg(2, SCMP_CMP_MASKED_EQ, writing, 0)});
    allow("open", {Arg(1, SCMP_CMP_MASKED_EQ, writing, 0)});
    // Descriptor flags, but no F_SETOWN, F_SETSIG or O_ASYNC: with those a
    // descriptor's owner gets a signal of the probe's choosing, any process
    // of the user's.
    for (const scmp_datum_t cmd : {F_GETFD, F_SETFD, F_GETFL, F_DUPFD, F_DUPFD_CLOEXEC})
        allow("fcntl", {Arg(1, SCMP_CMP_EQ, cmd)});
    allow("fcntl", {Arg(1, SCMP_CMP_EQ, F_SETFL), Arg(2, SCMP_CMP_MASKED_EQ, O_ASYNC, 0)});
    // Scheduling of its own threads only (0 is the calling thread).
    for (const char* call : {"sched_setattr", "sched_setscheduler", "sched_setparam"})
        allow(call, {Arg(0, SCMP_CMP_EQ, 0)});
    // GLib's shared thread pool copies the scheduling of the thread that
    // made it into each new thread by its thread id, which the rule above
    // cannot tell from another process's; told the settings cannot be read,
    // it starts its threads from a spawner thread that needs no such call.
    if (rc == 0)
        rc = ::seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(sched_getattr), 0);
    // Thread names, and the CPU limit of the process itself, file by file.
    allow("prctl", {Arg(0, SCMP_CMP_EQ, PR_SET_NAME)});
    allow("prctl", {Arg(0, SCMP_CMP_EQ, PR_GET_NAME)});
    allow("prlimit64", {Arg(0, SCMP_CMP_EQ, 0), Arg(1, SCMP_CMP_EQ, RLIMIT_CPU)});
    allow("setrlimit", {Arg(0, SCMP_CMP_EQ, RLIMIT_CPU)});
    // GStreamer 1.22 wakes its bus and clock through a pair of unnamed local
    // sockets (GstPoll); such a pair reaches nothing outside the process.
    allow("socketpair", {Arg(0, SCMP_CMP_EQ, AF_UNIX)});
    // abort() and raise() reach the process itself only.
    allow("tgkill", {Arg(0, SCMP_CMP_EQ, static_cast<scmp_datum_t>(::getpid()))});
    // Threads, but no new process: clone only with CLONE_THREAD, and clone3
    // (whose flags a filter cannot read) answers "not here", on which the C
    // library falls back to clone.
    allow("clone", {Arg(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)});
    if (rc == 0)
        rc = ::seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    // A terminal question on a descriptor gets "not a terminal".
    if (rc == 0)
        rc = ::seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOTTY), SCMP_SYS(ioctl), 0);
    if (rc == 0)
        rc = ::seccomp_load(ctx);
    ::seccomp_release(ctx);
    return rc == 0 ? std::string() : Failed("the system-call filter", -rc);
}

} // namespace

std::string Confine() {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return Failed("no_new_privs", errno);
    if (!Limit(RLIMIT_CORE, 0, 0))
        return Failed("the core-dump limit", errno);
#if !ZARN_SANITIZED
    if (!Limit(RLIMIT_AS, AddressSpace, AddressSpace))
        return Failed("the address-space limit", errno);
#endif
    if (!Limit(RLIMIT_NOFILE, OpenFiles, OpenFiles))
        return Failed("the descriptor limit", errno);
    return Filter();
}

void LimitCpuForNextFile(unsigned long long seconds) {
    rusage used{};
    ::getrusage(RUSAGE_SELF, &used);
    const rlim_t spent = static_cast<rlim_t>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) + 1;
    Limit(RLIMIT_CPU, spent + seconds, RLIM_INFINITY);
}

} // namespace probe
