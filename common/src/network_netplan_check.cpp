// netplan's own parser as the judge of a new netplan file: its generator runs
// on a private root holding the new text beside the other files of the
// directory, so nothing it refuses ever replaces the host's file.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "extra_command_handling.h"
#include "file_replace.h"
#include "network.h"

namespace {

namespace fs = std::filesystem;

// Where Debian and Ubuntu releases install netplan's generator.
const char* const generator_paths[] = {"/usr/libexec/netplan/generate", "/lib/netplan/generate",
                                       "/usr/lib/netplan/generate"};
// /run is a tmpfs on every host and writable by the service.
const char* const check_root_template = "/run/lumerion-netplan-XXXXXX";
const mode_t netplan_file_mode = 0600;
const int status_capture_length = 16;

const char* get_Generator_Path()
{
    for (const char* path : generator_paths)
        if (access(path, X_OK) == 0)
            return path;
    return nullptr;
}

// The private root, removed with everything the generator wrote into it.
class Check_Root {
public:
    Check_Root()
    {
        char name[64];
        snprintf(name, sizeof(name), "%s", check_root_template);
        if (mkdtemp(name) != nullptr)
            path = name;
    }
    ~Check_Root()
    {
        std::error_code ignored;
        if (!path.empty())
            fs::remove_all(path, ignored);
    }
    Check_Root(const Check_Root&) = delete;
    Check_Root& operator=(const Check_Root&) = delete;
    std::string path;
};

// The other netplan files the generator reads with ours: every *.yaml beside it.
bool set_Sibling_Copies(const fs::path& directory, const std::string& own_name, const fs::path& target)
{
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const fs::path& sibling = it->path();
        if (sibling.extension() != ".yaml" || sibling.filename() == own_name || !fs::is_regular_file(sibling))
            continue;
        std::string content;
        if (!get_File_Content(sibling.string(), &content) ||
            set_File_Replace((target / sibling.filename()).string(), content, netplan_file_mode) != 0)
            return false;
    }
    return !error;
}

// netplan's first error line, with the private root taken out of its paths.
std::string get_First_Error_Line(const std::string& output, const std::string& root)
{
    std::string first;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? output.size() : end + 1;
        if (first.empty() && line.find_first_not_of(" \t") != std::string::npos)
            first = line;
        if (line.find("Error") != std::string::npos || line.find("error") != std::string::npos) {
            first = line;
            break;
        }
    }
    for (size_t at = first.find(root); at != std::string::npos; at = first.find(root))
        first.erase(at, root.size());
    return first.empty() ? "no message" : first;
}

} // namespace

bool Network::get_netplan_Accepted(const std::string& file, const std::string& text, std::string* error)
{
    const char* generator = get_Generator_Path();
    if (generator == nullptr) {
        *error = "netplan's generator is not installed";
        return false;
    }
    Check_Root root;
    if (root.path.empty()) {
        *error = std::string("cannot make a private root under /run: ") + strerror(errno);
        return false;
    }
    fs::path own(file);
    fs::path directory = fs::path(root.path) / own.parent_path().relative_path();
    std::error_code made;
    fs::create_directories(directory, made);
    if (made || !set_Sibling_Copies(own.parent_path(), own.filename().string(), directory) ||
        set_File_Replace((directory / own.filename()).string(), text, netplan_file_mode) != 0) {
        *error = "cannot copy the netplan files into " + root.path;
        return false;
    }
    std::string errors = root.path + "/generate.err";
    std::string command = get_Shell_Word(generator) + " --root-dir " + get_Shell_Word(root.path) +
                          " >/dev/null 2>" + get_Shell_Word(errors) + "; echo $?";
    char status[status_capture_length];
    memset(status, 0, sizeof(status));
    if (set_Probe_Command(command.c_str(), status, sizeof(status) - 1) != 0 || status[0] == '\0') {
        *error = "cannot run netplan's generator";
        return false;
    }
    if (atoi(status) == 0)
        return true;
    std::string output;
    get_File_Content(errors, &output);
    *error = get_First_Error_Line(output, root.path);
    return false;
}
