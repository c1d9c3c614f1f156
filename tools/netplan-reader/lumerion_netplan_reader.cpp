// lumerion-hostd's netplan reader: reads one request (the files and the
// interface) on standard input, gives netplan's reading of it on standard
// output, and ends. The daemon runs it so that libnetplan and GLib are mapped
// only for the life of one reading, never into the daemon itself.
#include <errno.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "netplan_reader.h"

namespace {

// Far above what the daemon sends (its files are read with a size limit).
const size_t max_request_size = 64 << 20;

bool get_Input(std::string* input)
{
    char buffer[65536];
    for (;;) {
        ssize_t n = read(STDIN_FILENO, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        if (input->size() + static_cast<size_t>(n) > max_request_size)
            return false;
        input->append(buffer, static_cast<size_t>(n));
    }
}

bool set_Output(const std::string& output)
{
    for (size_t done = 0; done < output.size();) {
        ssize_t n = write(STDOUT_FILENO, output.data() + done, output.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

int main()
{
    std::string input, output;
    if (!get_Input(&input) || !get_netplan_Reader_Answer(input, &output)) {
        (void)fputs("lumerion-netplan-reader: the request is damaged or too large\n", stderr);
        return 2;
    }
    return set_Output(output) ? 0 : 1;
}
