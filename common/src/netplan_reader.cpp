// netplan's own parser as the reader of the host's netplan files: libnetplan
// reads the bytes the daemon read (through memory files, so a FIFO or a huge
// file never reaches it), merges them as "netplan generate" does, says which
// definitions apply to an interface, and writes the merged result back out.
#include "netplan_reader.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include "guards.h"
#include "text_lines.h"

namespace {

// libnetplan's names on Debian and Ubuntu releases.
const char* const library_names[] = {"libnetplan.so.1", "libnetplan.so.0.0", "libnetplan.so.0"};
const size_t error_text_length = 1024;
const size_t id_text_length = 256;
// netplan's type of an "ethernets" definition.
const int netplan_ethernet_type = 1;
// Room for libnetplan's iterator, whatever its release keeps in it.
const size_t iterator_words = 16;
const size_t max_merged_size = 4 << 20;

using Log_Function = void (*)(const char*, int, const char*, void*);

// The parts of libnetplan's C interface the reader uses (its handles are opaque).
struct Netplan_Library {
    void* (*parser_new)();
    void (*parser_clear)(void**);
    int (*parser_load_yaml_from_fd)(void*, int, void**);
    void* (*state_new)();
    void (*state_clear)(void**);
    int (*state_import_parser_results)(void*, void*, void**);
    int (*state_dump_yaml)(void*, int, void**);
    void (*iterator_init)(void*, void*);
    void* (*iterator_next)(void*);
    ssize_t (*netdef_get_id)(void*, char*, size_t);
    ssize_t (*netdef_get_set_name)(void*, char*, size_t);
    int (*netdef_get_type)(void*);
    int (*netdef_match_interface)(void*, const char*, const char*, const char*);
    ssize_t (*error_message)(void*, char*, size_t);
    void (*error_clear)(void**);
};

template <typename Function> bool get_Symbol(void* library, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(dlsym(library, name));
    return *function != nullptr;
}

// GLib's warnings (a file readable by others) and the criticals a memory file
// gives its error formatting would reach the daemon's standard error raw.
void drop_GLib_Message(const char*, int, const char*, void*) {}

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
    if (handle == nullptr)
        return nullptr;
    Log_Function (*set_log_handler)(Log_Function, void*) = nullptr;
    if (get_Symbol(handle, "g_log_set_default_handler", &set_log_handler))
        set_log_handler(drop_GLib_Message, nullptr);
    if (get_Symbol(handle, "netplan_parser_new", &library.parser_new) &&
        get_Symbol(handle, "netplan_parser_clear", &library.parser_clear) &&
        get_Symbol(handle, "netplan_parser_load_yaml_from_fd", &library.parser_load_yaml_from_fd) &&
        get_Symbol(handle, "netplan_state_new", &library.state_new) &&
        get_Symbol(handle, "netplan_state_clear", &library.state_clear) &&
        get_Symbol(handle, "netplan_state_import_parser_results", &library.state_import_parser_results) &&
        get_Symbol(handle, "netplan_state_dump_yaml", &library.state_dump_yaml) &&
        get_Symbol(handle, "netplan_state_iterator_init", &library.iterator_init) &&
        get_Symbol(handle, "netplan_state_iterator_next", &library.iterator_next) &&
        get_Symbol(handle, "netplan_netdef_get_id", &library.netdef_get_id) &&
        get_Symbol(handle, "netplan_netdef_get_set_name", &library.netdef_get_set_name) &&
        get_Symbol(handle, "netplan_netdef_get_type", &library.netdef_get_type) &&
        get_Symbol(handle, "netplan_netdef_match_interface", &library.netdef_match_interface) &&
        get_Symbol(handle, "netplan_error_message", &library.error_message) &&
        get_Symbol(handle, "netplan_error_clear", &library.error_clear))
        loaded = &library;
    return loaded;
}

// A memory file holding `text`, read from its start; -1 when none can be made.
int get_Memory_File(const std::string& text)
{
    Descriptor fd(memfd_create("netplan", MFD_CLOEXEC));
    if (fd.get() < 0)
        return -1;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd.get(), text.data() + done, text.size() - done);
        if (n <= 0)
            return -1;
        done += static_cast<size_t>(n);
    }
    if (lseek(fd.get(), 0, SEEK_SET) != 0)
        return -1;
    return fd.take();
}

// netplan's first error line; a memory file has no name, so `path` is put in.
std::string get_First_Error_Line(const std::string& message, const std::string& path)
{
    std::string first;
    Text_Lines lines(message);
    for (std::string line; lines.get_Next_Line(&line);)
        if (line.find_first_not_of(" \t") != std::string::npos) {
            first = line;
            break;
        }
    for (const char* unnamed : {"(null)", "(unnamed file)"})
        if (first.compare(0, strlen(unnamed), unnamed) == 0)
            first.replace(0, strlen(unnamed), path);
    return first.empty() ? path + ": no message" : first;
}

// A file of blank and comment lines only: it defines nothing, and libnetplan
// leaks the parser's buffers on such an empty document.
bool get_Document_Empty(const std::string& text)
{
    Text_Lines lines(text);
    for (std::string line; lines.get_Next_Line(&line);) {
        size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos && line[first] != '#')
            return false;
    }
    return true;
}

// The one owner of libnetplan's handles during a reading.
class Netplan_Session {
public:
    explicit Netplan_Session(const Netplan_Library& netplan) : netplan(netplan), parser(netplan.parser_new())
    {
    }
    ~Netplan_Session()
    {
        if (error != nullptr)
            netplan.error_clear(&error);
        if (state != nullptr)
            netplan.state_clear(&state);
        netplan.parser_clear(&parser);
    }
    Netplan_Session(const Netplan_Session&) = delete;
    Netplan_Session& operator=(const Netplan_Session&) = delete;

    std::string get_Error_Message()
    {
        char text[error_text_length];
        memset(text, 0, sizeof(text));
        if (error != nullptr)
            netplan.error_message(error, text, sizeof(text) - 1);
        return text;
    }

    const Netplan_Library& netplan;
    void* parser;
    void* state = nullptr;
    void* error = nullptr;
};

std::string get_Netdef_Text(ssize_t (*getter)(void*, char*, size_t), void* netdef)
{
    char text[id_text_length];
    memset(text, 0, sizeof(text));
    ssize_t n = getter(netdef, text, sizeof(text) - 1);
    return n > 0 ? std::string(text, strnlen(text, sizeof(text))) : "";
}

std::string get_Merged_Text(Netplan_Session* session)
{
    Descriptor out(memfd_create("netplan-merged", MFD_CLOEXEC));
    if (out.get() < 0 || session->netplan.state_dump_yaml(session->state, out.get(), &session->error) == 0)
        return "";
    off_t size = lseek(out.get(), 0, SEEK_END);
    if (size <= 0 || static_cast<size_t>(size) > max_merged_size)
        return "";
    std::string text(static_cast<size_t>(size), '\0');
    if (pread(out.get(), &text[0], text.size(), 0) != size)
        return "";
    return text;
}

} // namespace

Netplan_Reading get_netplan_Reading_Here(const std::vector<Netplan_File>& files, const Interface_Facts& facts)
{
    Netplan_Reading reading;
    const Netplan_Library* netplan = get_Netplan_Library();
    if (netplan == nullptr)
        return reading;
    reading.installed = true;
    Netplan_Session session(*netplan);
    for (const Netplan_File& file : files) {
        if (get_Document_Empty(file.text))
            continue;
        Descriptor in(get_Memory_File(file.text));
        if (in.get() < 0) {
            reading.error = file.path + ": cannot hand it to netplan's parser";
            return reading;
        }
        if (netplan->parser_load_yaml_from_fd(session.parser, in.get(), &session.error) == 0) {
            reading.error = get_First_Error_Line(session.get_Error_Message(), file.path);
            return reading;
        }
    }
    session.state = netplan->state_new();
    if (netplan->state_import_parser_results(session.state, session.parser, &session.error) == 0) {
        reading.error = get_First_Error_Line(session.get_Error_Message(), "netplan");
        return reading;
    }
    reading.accepted = true;
    void* iterator[iterator_words] = {};
    netplan->iterator_init(session.state, iterator);
    for (void* netdef; (netdef = netplan->iterator_next(iterator)) != nullptr;) {
        if (netplan->netdef_get_type(netdef) != netplan_ethernet_type)
            continue;
        const char* mac = facts.mac.empty() ? nullptr : facts.mac.c_str();
        const char* driver = facts.driver.empty() ? nullptr : facts.driver.c_str();
        if (get_Netdef_Text(netplan->netdef_get_set_name, netdef) == facts.name ||
            netplan->netdef_match_interface(netdef, facts.name.c_str(), mac, driver) != 0)
            reading.applying_ids.push_back(get_Netdef_Text(netplan->netdef_get_id, netdef));
    }
    reading.merged = get_Merged_Text(&session);
    return reading;
}
