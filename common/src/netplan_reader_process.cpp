// The daemon reads netplan's files in a process of its reader: libnetplan
// pulls in GLib, which can never be unloaded, and a threaded daemon must not
// parse after a fork without an exec. The request and the reading cross as
// fields of "<length>\n<bytes>"; the files' bytes go in through a memory file.
#include "netplan_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_environment.h"
#include "guards.h"
#include "monotonic_clock.h"

namespace {

const char* const request_tag = "lumerion-netplan-request 1";
const char* const reading_tag = "lumerion-netplan-reading 1";
const long reader_timeout_ms = 10000;
// The merged text is at most 4 MiB; ids and the error add little.
const size_t max_reading_size = 8 << 20;
const size_t max_length_digits = 10;
const size_t max_files = 4096;

std::string reader_program;

void add_Field(std::string* text, const std::string& field)
{
    *text += std::to_string(field.size());
    *text += '\n';
    *text += field;
}

// Takes the fields of a text one by one; any damage ends the reading.
class Field_Reader {
public:
    explicit Field_Reader(const std::string& text) : text(text) {}
    bool get(std::string* field)
    {
        size_t end = text.find('\n', at);
        // One way to write each length: no leading zero.
        if (end == std::string::npos || end == at || end - at > max_length_digits ||
            (end - at > 1 && text[at] == '0'))
            return false;
        size_t length = 0;
        for (size_t i = at; i < end; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            length = length * 10 + static_cast<size_t>(text[i] - '0');
        }
        if (length > text.size() - end - 1)
            return false;
        field->assign(text, end + 1, length);
        at = end + 1 + length;
        return true;
    }
    bool get_Count(size_t* count, size_t most)
    {
        std::string field;
        if (!get(&field) || field.empty() || field.size() > max_length_digits ||
            field.find_first_not_of("0123456789") != std::string::npos ||
            (field.size() > 1 && field[0] == '0'))
            return false;
        *count = std::stoul(field);
        return *count <= most;
    }
    bool get_Flag(bool* flag)
    {
        std::string field;
        if (!get(&field) || (field != "0" && field != "1"))
            return false;
        *flag = field == "1";
        return true;
    }
    bool get_End() const { return at == text.size(); }

private:
    const std::string& text;
    size_t at = 0;
};

// A memory file holding `text` from its start; -1 when none can be made.
int get_Request_File(const std::string& text)
{
    Descriptor fd(memfd_create("netplan-request", MFD_CLOEXEC));
    if (fd.get() < 0)
        return -1;
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(fd.get(), text.data() + done, text.size() - done);
        if (n <= 0)
            return -1;
        done += static_cast<size_t>(n);
    }
    return lseek(fd.get(), 0, SEEK_SET) == 0 ? fd.take() : -1;
}

// The reader's whole output, until it closes it; false when it takes too long or says too much.
bool get_Output_Read(int fd, std::string* output, std::string* error)
{
    long deadline = get_Monotonic_Ms() + reader_timeout_ms;
    char buffer[65536];
    for (;;) {
        long left = deadline - get_Monotonic_Ms();
        struct pollfd ready = {fd, POLLIN, 0};
        int polled = left > 0 ? poll(&ready, 1, static_cast<int>(left)) : 0;
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0) {
            *error = "did not answer within " + std::to_string(reader_timeout_ms / 1000) + " s";
            return false;
        }
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = std::string("cannot read its answer: ") + strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        if (output->size() + static_cast<size_t>(n) > max_reading_size) {
            *error = "answered with more than " + std::to_string(max_reading_size >> 20) + " MiB";
            return false;
        }
        output->append(buffer, static_cast<size_t>(n));
    }
}

// Runs the reader on `request`; false with `error` when it could not give an answer.
bool get_Reader_Output(const std::string& request, std::string* output, std::string* error)
{
    // Checked first: where a failed exec is not reported back (under emulation) it would read as a status.
    if (access(reader_program.c_str(), X_OK) != 0) {
        *error = std::string("cannot be run: ") + strerror(errno);
        return false;
    }
    Descriptor in(get_Request_File(request));
    int out_pipe[2];
    if (in.get() < 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
        *error = std::string("cannot hand it the files: ") + strerror(errno);
        return false;
    }
    Descriptor out_read(out_pipe[0]);
    Descriptor out_write(out_pipe[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_write.get(), STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(reader_program.c_str()), nullptr};
    pid_t pid = -1;
    Child_Environment environment;
    int rc = posix_spawn(&pid, reader_program.c_str(), &actions, nullptr, argv, environment.get());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        *error = std::string("cannot be run: ") + strerror(rc);
        return false;
    }
    out_write.reset(-1);
    bool read = get_Output_Read(out_read.get(), output, error);
    if (!read)
        (void)kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (read && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        *error = WIFEXITED(status) ? "ended with status " + std::to_string(WEXITSTATUS(status))
                                   : "ended by signal " + std::to_string(WTERMSIG(status));
        return false;
    }
    return read;
}

} // namespace

std::string get_netplan_Request_Text(const std::vector<Netplan_File>& files, const Interface_Facts& facts)
{
    std::string text;
    for (const std::string& field : {std::string(request_tag), facts.name, facts.mac, facts.driver,
                                     facts.type, std::to_string(files.size())})
        add_Field(&text, field);
    for (const Netplan_File& file : files) {
        add_Field(&text, file.path);
        add_Field(&text, file.text);
    }
    return text;
}

bool get_netplan_Request(const std::string& text, std::vector<Netplan_File>* files, Interface_Facts* facts)
{
    Field_Reader fields(text);
    std::string tag;
    size_t count = 0;
    if (!fields.get(&tag) || tag != request_tag || !fields.get(&facts->name) || !fields.get(&facts->mac) ||
        !fields.get(&facts->driver) || !fields.get(&facts->type) || !fields.get_Count(&count, max_files))
        return false;
    files->assign(count, Netplan_File());
    for (Netplan_File& file : *files)
        if (!fields.get(&file.path) || !fields.get(&file.text))
            return false;
    return fields.get_End();
}

std::string get_netplan_Reading_Text(const Netplan_Reading& reading)
{
    std::string text;
    for (const std::string& field : {std::string(reading_tag), std::string(reading.installed ? "1" : "0"),
                                     std::string(reading.accepted ? "1" : "0"), reading.error, reading.merged,
                                     std::to_string(reading.applying_ids.size())})
        add_Field(&text, field);
    for (const std::string& id : reading.applying_ids)
        add_Field(&text, id);
    return text;
}

bool get_netplan_Reading_From(const std::string& text, Netplan_Reading* reading)
{
    Field_Reader fields(text);
    std::string tag;
    size_t count = 0;
    if (!fields.get(&tag) || tag != reading_tag || !fields.get_Flag(&reading->installed) ||
        !fields.get_Flag(&reading->accepted) || !fields.get(&reading->error) ||
        !fields.get(&reading->merged) || !fields.get_Count(&count, max_files))
        return false;
    reading->applying_ids.assign(count, std::string());
    for (std::string& id : reading->applying_ids)
        if (!fields.get(&id))
            return false;
    return fields.get_End();
}

void set_netplan_Reader_Program(const std::string& program)
{
    reader_program = program;
}

void set_netplan_Reader_Beside(const std::string& relative)
{
    char own[4096];
    ssize_t n = readlink("/proc/self/exe", own, sizeof(own) - 1);
    // A replaced binary's link ends in " (deleted)": only its directory is used.
    std::string path = n > 0 ? std::string(own, static_cast<size_t>(n)) : "/usr/sbin/";
    reader_program = path.substr(0, path.rfind('/') + 1) + relative;
}

bool get_netplan_Reader_Answer(const std::string& input, std::string* output)
{
    std::vector<Netplan_File> files;
    Interface_Facts facts;
    if (!get_netplan_Request(input, &files, &facts))
        return false;
    *output = get_netplan_Reading_Text(get_netplan_Reading_Here(files, facts));
    return true;
}

Netplan_Reading get_netplan_Reading(const std::vector<Netplan_File>& files, const Interface_Facts& facts)
{
    if (reader_program.empty())
        return get_netplan_Reading_Here(files, facts);
    Netplan_Reading reading;
    std::string output, error;
    if (!get_Reader_Output(get_netplan_Request_Text(files, facts), &output, &error)) {
        reading.installed = true;
        reading.error = "netplan's reader " + reader_program + " " + error;
        return reading;
    }
    if (!get_netplan_Reading_From(output, &reading)) {
        reading = Netplan_Reading();
        reading.installed = true;
        reading.error = "netplan's reader " + reader_program + " gave a damaged answer";
    }
    return reading;
}
