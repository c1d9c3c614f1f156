// netplan's own parser as the judge of a new netplan file: libnetplan, loaded
// when first needed (a host without netplan needs nothing), reads a private
// root holding the new text beside the other files of the directory, the way
// "netplan generate" reads /etc/netplan, so nothing it refuses ever replaces
// the host's file.
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <system_error>

#include "file_replace.h"
#include "network.h"
#include "text_lines.h"

namespace {

namespace fs = std::filesystem;

// libnetplan's names on Debian and Ubuntu releases.
const char* const library_names[] = {"libnetplan.so.1", "libnetplan.so.0.0", "libnetplan.so.0"};
// /run is a tmpfs on every host and writable by the service.
const char* const check_root_template = "/run/lumerion-netplan-XXXXXX";
const mode_t netplan_file_mode = 0600;
const size_t error_text_length = 1024;

// The parts of libnetplan's C interface the check uses (its handles are opaque).
struct Netplan_Library {
    void* (*parser_new)();
    void (*parser_clear)(void**);
    int (*parser_load_yaml_hierarchy)(void*, const char*, void**);
    void* (*state_new)();
    void (*state_clear)(void**);
    int (*state_import_parser_results)(void*, void*, void**);
    ssize_t (*error_message)(void*, char*, size_t);
    void (*error_clear)(void**);
};

template <typename Function> bool get_Symbol(void* library, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(dlsym(library, name));
    return *function != nullptr;
}

// Loaded once and kept for the life of the process; null when netplan is not installed.
const Netplan_Library* get_Netplan_Library()
{
    static bool tried = false;
    static Netplan_Library library;
    static const Netplan_Library* loaded = nullptr;
    if (tried)
        return loaded;
    tried = true;
    void* handle = nullptr;
    for (const char* name : library_names)
        if ((handle = dlopen(name, RTLD_NOW | RTLD_LOCAL)) != nullptr)
            break;
    if (handle != nullptr && get_Symbol(handle, "netplan_parser_new", &library.parser_new) &&
        get_Symbol(handle, "netplan_parser_clear", &library.parser_clear) &&
        get_Symbol(handle, "netplan_parser_load_yaml_hierarchy", &library.parser_load_yaml_hierarchy) &&
        get_Symbol(handle, "netplan_state_new", &library.state_new) &&
        get_Symbol(handle, "netplan_state_clear", &library.state_clear) &&
        get_Symbol(handle, "netplan_state_import_parser_results", &library.state_import_parser_results) &&
        get_Symbol(handle, "netplan_error_message", &library.error_message) &&
        get_Symbol(handle, "netplan_error_clear", &library.error_clear))
        loaded = &library;
    return loaded;
}

// netplan's reading of every file under `root`, as "netplan generate --root-dir" reads them.
bool get_Hierarchy_Accepted(const Netplan_Library& netplan, const std::string& root, std::string* message)
{
    void* error = nullptr;
    void* parser = netplan.parser_new();
    void* state = nullptr;
    bool accepted = netplan.parser_load_yaml_hierarchy(parser, root.c_str(), &error) != 0;
    if (accepted) {
        state = netplan.state_new();
        accepted = netplan.state_import_parser_results(state, parser, &error) != 0;
    }
    if (!accepted && error != nullptr) {
        char text[error_text_length];
        memset(text, 0, sizeof(text));
        netplan.error_message(error, text, sizeof(text) - 1);
        *message = text;
    }
    if (error != nullptr)
        netplan.error_clear(&error);
    if (state != nullptr)
        netplan.state_clear(&state);
    netplan.parser_clear(&parser);
    return accepted;
}

// The private root, removed with everything the generator wrote into it.
class Check_Root {
public:
    Check_Root()
    {
        std::string name = check_root_template;
        if (mkdtemp(&name[0]) != nullptr)
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

// The other netplan files netplan reads with ours: every *.yaml beside it.
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
    Text_Lines lines(output);
    for (std::string line; lines.get_Next_Line(&line);) {
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
    const Netplan_Library* netplan = get_Netplan_Library();
    if (netplan == nullptr) {
        *error = "netplan's parser library (libnetplan) is not installed";
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
    std::string message;
    if (get_Hierarchy_Accepted(*netplan, root.path, &message))
        return true;
    *error = get_First_Error_Line(message, root.path);
    return false;
}
