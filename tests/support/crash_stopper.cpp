// Preloaded into a program under test (LD_PRELOAD): counts the calls at which
// a change's steps begin on the host (a temporary file made, a rename, an
// unlink, an fsync, a lock taken, a command started) and kills the program
// with SIGKILL just before call number LUMERION_CRASH_AT. With
// LUMERION_CRASH_COUNT the number of calls so far is written to that file at
// each call (the daemon leaves by _exit, past any destructor). The commands
// the program starts do not inherit it.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>

namespace {

long crash_at = -1;
std::atomic<long> calls{0};
char count_path[4096] = {};

void count_Call()
{
    const long call = ++calls;
    if (call == crash_at)
        (void)kill(getpid(), SIGKILL);
    if (count_path[0] == 0)
        return;
    int fd = open(count_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    char text[32];
    int length = snprintf(text, sizeof(text), "%ld\n", call);
    (void)!write(fd, text, static_cast<size_t>(length));
    (void)close(fd);
}

template <typename Function> Function get_Next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

__attribute__((constructor)) void init_Stopper()
{
    const char* at = getenv("LUMERION_CRASH_AT");
    crash_at = at != nullptr ? strtol(at, nullptr, 10) : -1;
    const char* count = getenv("LUMERION_CRASH_COUNT");
    if (count != nullptr)
        (void)snprintf(count_path, sizeof(count_path), "%s", count);
    // The program's children are the host's tools: none of them is stopped or counted.
    (void)unsetenv("LD_PRELOAD");
    (void)unsetenv("LUMERION_CRASH_AT");
    (void)unsetenv("LUMERION_CRASH_COUNT");
}

} // namespace

extern "C" int mkostemp(char* name, int flags)
{
    count_Call();
    return get_Next<int (*)(char*, int)>("mkostemp")(name, flags);
}

extern "C" int rename(const char* from, const char* to)
{
    count_Call();
    return get_Next<int (*)(const char*, const char*)>("rename")(from, to);
}

extern "C" int unlink(const char* path)
{
    count_Call();
    return get_Next<int (*)(const char*)>("unlink")(path);
}

extern "C" int fsync(int fd)
{
    count_Call();
    return get_Next<int (*)(int)>("fsync")(fd);
}

extern "C" int flock(int fd, int operation)
{
    count_Call();
    return get_Next<int (*)(int, int)>("flock")(fd, operation);
}

using Spawn = int (*)(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                      char* const[], char* const[]);

extern "C" int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                           const posix_spawnattr_t* attributes, char* const argv[], char* const envp[])
{
    count_Call();
    return get_Next<Spawn>("posix_spawn")(pid, path, actions, attributes, argv, envp);
}

extern "C" int posix_spawnp(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                            const posix_spawnattr_t* attributes, char* const argv[], char* const envp[])
{
    count_Call();
    return get_Next<Spawn>("posix_spawnp")(pid, file, actions, attributes, argv, envp);
}
