#include "host_events.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "log.h"

namespace {

const char* const __log_tag = "main";
const long long burst_quiet_ms = 200;
const long long burst_longest_ms = 500;
const uint32_t state_mask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                            IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
const uint32_t bus_mask = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR;
// The directory itself went away: its watch is gone with it.
const uint32_t watch_gone_mask = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF;

int wake_fd = -1;

// Both groups are below 32, so the bind-time mask joins them (bit N-1 for group N).
int get_Route_Events_Opened(std::string* error)
{
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        *error = std::string("cannot open the kernel's route events: ") + strerror(errno);
        return -1;
    }
    struct sockaddr_nl local = {};
    local.nl_family = AF_NETLINK;
    local.nl_groups = (1U << (RTNLGRP_IPV4_IFADDR - 1)) | (1U << (RTNLGRP_IPV4_ROUTE - 1));
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&local), sizeof(local)) != 0) {
        *error = std::string("cannot listen to the kernel's route events: ") + strerror(errno);
        Descriptor unbound(fd);
        return -1;
    }
    return fd;
}

// Any message is a reason to look; so is a lost one (ENOBUFS).
bool get_Route_Events_Drained(int fd)
{
    bool seen = false;
    char buffer[8192];
    for (;;) {
        ssize_t got = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (got > 0) {
            seen = true;
            continue;
        }
        if (got < 0 && errno == ENOBUFS) {
            seen = true;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return seen;
    }
}

std::string get_Directory_Of(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

long long get_Event_Look_Ms(long long first_event_ms, long long last_event_ms)
{
    return std::min(last_event_ms + burst_quiet_ms, first_event_ms + burst_longest_ms);
}

int get_Wait_Ms(long long now_ms, const std::vector<long long>& due_ms)
{
    long long earliest = -1;
    for (long long due : due_ms)
        if (due >= 0 && (earliest < 0 || due < earliest))
            earliest = due;
    if (earliest < 0)
        return -1;
    return static_cast<int>(std::min<long long>(std::max<long long>(earliest - now_ms, 0), INT_MAX));
}

std::vector<Watch_Event> get_Watch_Events(const uint8_t* buffer, size_t length)
{
    std::vector<Watch_Event> events;
    size_t at = 0;
    const size_t head = sizeof(struct inotify_event);
    while (length - at >= head) {
        struct inotify_event record;
        memcpy(&record, buffer + at, head);
        if (record.len > length - at - head)
            break;
        Watch_Event event;
        event.watch = record.wd;
        event.mask = record.mask;
        const char* name = reinterpret_cast<const char*>(buffer + at + head);
        // The kernel pads the name with NULs to the record's length.
        event.name.assign(name, strnlen(name, record.len));
        events.push_back(event);
        at += head + record.len;
    }
    return events;
}

bool Host_Events::init(const char* state_dir, const char* record, const char* bus_node_path,
                       std::string* error)
{
    if (wake_fd < 0)
        wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    route_fd.reset(get_Route_Events_Opened(error));
    if (route_fd.get() < 0)
        return false;
    state_directory = state_dir;
    record_name = record;
    bus_directory = get_Directory_Of(bus_node_path);
    bus_name = std::string(bus_node_path).substr(bus_directory.size() + (bus_directory == "/" ? 0 : 1));
    inotify_fd.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (inotify_fd.get() < 0) {
        LOG_ERROR("cannot watch %s and %s: %s", state_dir, bus_directory.c_str(), strerror(errno));
        return true;
    }
    set_State_Watch();
    bus_watch = inotify_add_watch(inotify_fd.get(), bus_directory.c_str(), bus_mask);
    if (bus_watch < 0)
        LOG_ERROR("cannot watch %s: %s", bus_directory.c_str(), strerror(errno));
    return true;
}

// The record's directory is made when missing, so that its first record is seen.
void Host_Events::set_State_Watch()
{
    if (mkdir(state_directory.c_str(), 0700) != 0 && errno != EEXIST)
        LOG_ERROR("cannot create %s: %s", state_directory.c_str(), strerror(errno));
    state_watch = inotify_add_watch(inotify_fd.get(), state_directory.c_str(), state_mask);
    if (state_watch < 0)
        LOG_ERROR("cannot watch %s: %s", state_directory.c_str(), strerror(errno));
}

void Host_Events::set_Inotify_Drained(Host_Event_Set* seen)
{
    alignas(struct inotify_event) uint8_t buffer[4096];
    bool state_gone = false;
    for (;;) {
        ssize_t got = read(inotify_fd.get(), buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (const Watch_Event& event : get_Watch_Events(buffer, static_cast<size_t>(got))) {
            // Events were dropped: anything may have changed.
            if (event.mask & IN_Q_OVERFLOW) {
                seen->state = seen->bus_node = true;
            } else if (event.watch == state_watch && state_watch >= 0) {
                if (event.mask & watch_gone_mask)
                    state_gone = true;
                else if (event.name == record_name)
                    seen->state = true;
            } else if (event.watch == bus_watch && bus_watch >= 0 && event.name == bus_name) {
                seen->bus_node = true;
            }
        }
    }
    if (state_gone) {
        (void)inotify_rm_watch(inotify_fd.get(), state_watch);
        set_State_Watch();
        seen->state = true;
    }
}

Host_Event_Set Host_Events::get_Wait(int stop_fd, int timeout_ms)
{
    struct pollfd watched[4] = {{stop_fd, POLLIN, 0},
                                {route_fd.get(), POLLIN, 0},
                                {inotify_fd.get(), POLLIN, 0},
                                {wake_fd, POLLIN, 0}};
    Host_Event_Set seen;
    if (poll(watched, 4, timeout_ms) <= 0)
        return seen;
    seen.stop = (watched[0].revents & POLLIN) != 0;
    if (watched[1].revents != 0)
        seen.route = get_Route_Events_Drained(route_fd.get());
    if (watched[2].revents != 0)
        set_Inotify_Drained(&seen);
    if (watched[3].revents != 0) {
        uint64_t count = 0;
        seen.woken = read(wake_fd, &count, sizeof(count)) == static_cast<ssize_t>(sizeof(count));
    }
    return seen;
}

void set_Loop_Wake()
{
    if (wake_fd < 0)
        return;
    int saved = errno;
    const uint64_t one = 1;
    // A counter already raised says the same.
    (void)!write(wake_fd, &one, sizeof(one));
    errno = saved;
}
