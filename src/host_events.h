#ifndef LUMERION_HOST_EVENTS_H
#define LUMERION_HOST_EVENTS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "guards.h"

// What the daemon's loop sleeps on: the kernel's IPv4 address and route
// events, a watch on the trial state directory and on the bus node's
// directory, the stop pipe and a wake-up any thread can give. An event only
// says "look now": the kernel's tables and the files stay the truth.

// A burst of route events is looked at 200 ms after its last event, and never
// later than 500 ms after its first.
long long get_Event_Look_Ms(long long first_event_ms, long long last_event_ms);

// How long the loop may sleep at `now_ms` before the earliest of `due_ms`
// (entries below 0 are not due at all): 0 when one is past, -1 for none.
int get_Wait_Ms(long long now_ms, const std::vector<long long>& due_ms);

// One inotify record: the watch it came from, its mask and the name in the directory ("" for the directory).
struct Watch_Event {
    int watch = -1;
    uint32_t mask = 0;
    std::string name;
};
// The records of one read from an inotify descriptor; a record cut short ends the list.
std::vector<Watch_Event> get_Watch_Events(const uint8_t* buffer, size_t length);

// What one wait brought.
struct Host_Event_Set {
    bool route = false;    // an IPv4 address or route changed, or events were lost
    bool state = false;    // the trial record was written, replaced or removed
    bool bus_node = false; // the bus node was created, removed or replaced
    bool woken = false;    // another thread asked the loop to look (set_Loop_Wake)
    bool stop = false;     // the stop pipe is readable
};

class Host_Events {
public:
    Host_Events() = default;
    Host_Events(const Host_Events&) = delete;
    Host_Events& operator=(const Host_Events&) = delete;

    // Opens the route events and the watches: the state directory is created
    // when missing. False with `error` when the route events cannot be had; a
    // watch that cannot be set is logged and left out.
    bool init(const char* state_directory, const char* record_name, const char* bus_node_path,
              std::string* error);
    // Sleeps until something arrives on a descriptor, `stop_fd` included, or
    // `timeout_ms` passes (-1: no limit), and drains what arrived.
    Host_Event_Set get_Wait(int stop_fd, int timeout_ms);
    // Whether a new trial record is seen without a look for it.
    bool get_State_Watched() const { return state_watch >= 0; }

private:
    void set_State_Watch();
    void set_Inotify_Drained(Host_Event_Set* seen);

    Descriptor route_fd;
    Descriptor inotify_fd;
    int state_watch = -1;
    int bus_watch = -1;
    std::string state_directory;
    std::string record_name;
    std::string bus_directory;
    std::string bus_name;
};

// Wakes the loop from any thread (the finisher's end, a lost bus); safe in a signal handler.
void set_Loop_Wake();

#endif
