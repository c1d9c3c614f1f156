#include "sandbox.h"

#include "log.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string get_Env(const char* name)
{
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

// Mirrors the fake tool's lookup: the argument text with "/" as "%".
std::string get_Answer_Name(const std::string& args)
{
    if (args.empty())
        return "_default";
    std::string name = args;
    for (char& c : name)
        if (c == '/')
            c = '%';
    return name;
}

} // namespace

std::string get_Sandbox_Dir()
{
    return get_Env("HOST_SANDBOX_DIR");
}

void set_Tool_Answer(const std::string& tool, const std::string& args, const std::string& text,
                     int exit_status)
{
    std::string dir = get_Env("HOST_SANDBOX_ANSWERS") + "/" + tool;
    std::filesystem::create_directories(dir);
    std::string path = dir + "/" + get_Answer_Name(args);
    write_File(path, text);
    if (exit_status != 0)
        write_File(path + ".exit", std::to_string(exit_status) + "\n");
    else
        std::filesystem::remove(path + ".exit");
}

void set_Tool_Failure(const std::string& tool, const std::string& args, int exit_status,
                      const std::string& message, const std::string& signal)
{
    set_Tool_Answer(tool, args, "", exit_status);
    std::string path = get_Env("HOST_SANDBOX_ANSWERS") + "/" + tool + "/" + get_Answer_Name(args);
    write_File(path + ".stderr", message);
    if (!signal.empty())
        write_File(path + ".signal", signal + "\n");
}

void set_Tool_Hang(const std::string& tool, const std::string& args, int seconds, bool linger)
{
    std::string path = get_Env("HOST_SANDBOX_ANSWERS") + "/" + tool + "/" + get_Answer_Name(args);
    if (!std::filesystem::exists(path))
        write_File(path, "");
    write_File(path + (linger ? ".linger" : ".sleep"), std::to_string(seconds) + "\n");
}

std::vector<std::string> get_Tool_Calls()
{
    std::vector<std::string> calls;
    std::istringstream in(read_File(get_Env("HOST_SANDBOX_TOOL_LOG")));
    for (std::string line; std::getline(in, line);)
        calls.push_back(line);
    return calls;
}

void clear_Tool_Calls()
{
    write_File(get_Env("HOST_SANDBOX_TOOL_LOG"), "");
}

int run_Shell(const std::string& command)
{
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

std::string read_File(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_File(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out << text;
}

Log_Capture::Log_Capture() : path(get_Sandbox_Dir() + "/capture.log")
{
    set_Log_Output_File(path.c_str(), "w");
}

std::string Log_Capture::text()
{
    // A failed open sends the log back to the console.
    set_Log_Output_File("/nonexistent/x", "w");
    return read_File(path);
}

void set_Descriptors_Used_Up()
{
    struct rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    int highest = 0;
    for (int fd = 0; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1)
            highest = fd;
    limit.rlim_cur = static_cast<rlim_t>(highest + 1);
    setrlimit(RLIMIT_NOFILE, &limit);
    while (open("/dev/null", O_RDONLY) >= 0) {
    }
}

void set_Nmcli_Profile(const std::string& uuid, const std::string& file, bool active)
{
    set_Tool_Answer("nmcli", "-t -f GENERAL.CON-UUID device show eth0",
                    "GENERAL.CON-UUID:" + (active ? uuid : std::string()) + "\n");
    set_Tool_Answer("nmcli", "-t -f UUID,TYPE,NAME,FILENAME con show",
                    uuid + ":802-3-ethernet:Wired connection 1:" + file + "\n");
    set_Tool_Answer("nmcli",
                    "-t -f connection.interface-name,802-3-ethernet.mac-address,connection.autoconnect,"
                    "connection.autoconnect-priority con show uuid " +
                        uuid,
                    "connection.interface-name:eth0\n802-3-ethernet.mac-address:\n");
}

std::vector<std::string> get_Command_Calls()
{
    std::vector<std::string> commands;
    for (const std::string& call : get_Tool_Calls())
        if (call.compare(0, 20, "systemctl is-active ") != 0 && call.compare(0, 9, "nmcli -t ") != 0)
            commands.push_back(call);
    return commands;
}

std::map<std::string, std::string> get_Tree_Snapshot(const std::vector<std::string>& tops)
{
    namespace fs = std::filesystem;
    std::map<std::string, std::string> tree;
    for (const std::string& top : tops) {
        std::error_code error;
        auto options = fs::directory_options::skip_permission_denied;
        for (fs::recursive_directory_iterator it(top, options, error), end; !error && it != end;
             it.increment(error)) {
            struct stat info;
            // The settings lock is the daemon's own runtime state, not the host's configuration.
            if (lstat(it->path().c_str(), &info) != 0 || S_ISDIR(info.st_mode) ||
                it->path().string().rfind("/run/lumerion-hostd/", 0) == 0)
                continue;
            std::string what = std::to_string(info.st_mode) + " ";
            // A FIFO is never opened: nothing would write to it.
            what += S_ISLNK(info.st_mode)    ? fs::read_symlink(it->path()).string()
                    : S_ISFIFO(info.st_mode) ? std::string("fifo")
                                             : read_File(it->path());
            tree[it->path().string()] = what;
        }
    }
    return tree;
}
