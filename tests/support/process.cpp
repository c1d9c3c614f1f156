#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "bus_reader.h"
#include "sandbox.h"

extern char** environ;

namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe()
    {
        if (pipe2(fd, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
    }
    ~Pipe()
    {
        for (int f : fd)
            if (f >= 0)
                close(f);
    }
    void close_End(int i)
    {
        if (fd[i] >= 0)
            close(fd[i]);
        fd[i] = -1;
    }
};

std::vector<char*> to_Argv(const std::vector<std::string>& items)
{
    std::vector<char*> out;
    for (const std::string& s : items)
        out.push_back(const_cast<char*>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

} // namespace

Process_Result run_Process(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    Pipe out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
    std::vector<char*> args = to_Argv(argv);
    std::vector<char*> envp = to_Argv(env);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    out.close_End(1);
    err.close_End(1);
    Process_Result result;
    if (rc != 0)
        return result;

    struct pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string get_Test_Binary_Dir()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return ".";
    std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

bool Daemon_Process::start(const std::string& path, const std::vector<std::string>& extra_env)
{
    out_path = get_Sandbox_Dir() + "/daemon.out";
    err_path = get_Sandbox_Dir() + "/daemon.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    std::vector<std::string> env_text(extra_env);
    for (char** e = environ; *e != nullptr; ++e)
        env_text.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env_text)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    pid_t child = -1;
    int rc = posix_spawn(&child, path.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    pid = rc == 0 ? child : -1;
    started = get_Monotonic_Seconds();
    return rc == 0;
}

int Daemon_Process::wait_Exit(double timeout_sec)
{
    double deadline = get_Monotonic_Seconds() + timeout_sec;
    while (get_Monotonic_Seconds() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        usleep(10000);
    }
    return -1;
}

bool Daemon_Process::running()
{
    return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0;
}

void Daemon_Process::stop()
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

std::string Daemon_Process::out() const
{
    return read_File(out_path);
}

std::string Daemon_Process::err() const
{
    return read_File(err_path);
}

Process_Result run_Process(const std::vector<std::string>& argv)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.push_back(*e);
    return run_Process(argv, env);
}
