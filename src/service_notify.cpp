#include "service_notify.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "guards.h"

namespace {

struct sockaddr_un notify_address;
socklen_t notify_length = 0;
uint64_t watchdog_usec = 0;
std::string last_status;
bool status_sent = false;

} // namespace

bool get_Notify_Address(const std::string& value, struct sockaddr_un* address, socklen_t* length)
{
    memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    bool abstract = !value.empty() && value[0] == '@';
    if (value.size() < 2 || (!abstract && value[0] != '/') || value.size() >= sizeof(address->sun_path))
        return false;
    memcpy(address->sun_path, value.data(), value.size());
    // An abstract name starts with a NUL byte, and its length is exact.
    if (abstract)
        address->sun_path[0] = '\0';
    *length =
        static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + value.size() + (abstract ? 0 : 1));
    return true;
}

uint64_t get_Watchdog_Usec(const char* usec_text, const char* pid_text, long own_pid)
{
    if (usec_text == nullptr || usec_text[0] < '0' || usec_text[0] > '9')
        return 0;
    char* end = nullptr;
    unsigned long long usec = strtoull(usec_text, &end, 10);
    if (*end != '\0' || usec == 0)
        return 0;
    if (pid_text != nullptr && pid_text[0] != '\0') {
        long pid = strtol(pid_text, &end, 10);
        if (*end != '\0' || pid != own_pid)
            return 0;
    }
    return usec;
}

void init_Service_Notify()
{
    const char* socket_name = getenv("NOTIFY_SOCKET");
    if (socket_name == nullptr || !get_Notify_Address(socket_name, &notify_address, &notify_length))
        notify_length = 0;
    watchdog_usec = notify_length == 0 ? 0
                                       : get_Watchdog_Usec(getenv("WATCHDOG_USEC"), getenv("WATCHDOG_PID"),
                                                           static_cast<long>(getpid()));
    (void)unsetenv("NOTIFY_SOCKET");
    (void)unsetenv("WATCHDOG_USEC");
    (void)unsetenv("WATCHDOG_PID");
}

bool get_Service_Notify_Active()
{
    return notify_length != 0;
}

uint64_t get_Service_Watchdog_Usec()
{
    return watchdog_usec;
}

bool set_Service_Notify(const std::string& message)
{
    if (notify_length == 0)
        return false;
    Descriptor sock(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0)
        return false;
    return sendto(sock.get(), message.data(), message.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const struct sockaddr*>(&notify_address),
                  notify_length) == static_cast<ssize_t>(message.size());
}

void set_Service_Status(const std::string& text)
{
    if (status_sent && text == last_status)
        return;
    if (set_Service_Notify("STATUS=" + text)) {
        last_status = text;
        status_sent = true;
    }
}
