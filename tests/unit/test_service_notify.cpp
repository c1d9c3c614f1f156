// The pieces of the notify protocol and the status line that need no systemd.
#include <gtest/gtest.h>

#include <stddef.h>

#include <string>

#include "service_notify.h"
#include "service_status.h"

namespace {

TEST(NotifyAddress, PathOrAbstractName)
{
    const struct {
        std::string value;
        bool valid;
        size_t length; // of the address, family included
    } rows[] = {
        {"/run/systemd/notify", true, offsetof(struct sockaddr_un, sun_path) + 20},
        {"@/org/freedesktop/systemd1/notify/123", true, offsetof(struct sockaddr_un, sun_path) + 37},
        {"", false, 0},
        {"@", false, 0},
        {"run/systemd/notify", false, 0},
        {std::string(200, '/'), false, 0},
    };
    for (const auto& row : rows) {
        struct sockaddr_un address;
        socklen_t length = 0;
        EXPECT_EQ(row.valid, get_Notify_Address(row.value, &address, &length)) << row.value;
        if (!row.valid)
            continue;
        EXPECT_EQ(row.length, length) << row.value;
        // An abstract name starts with a NUL byte; a path ends with one.
        EXPECT_EQ(row.value[0] == '@' ? '\0' : '/', address.sun_path[0]) << row.value;
    }
}

TEST(NotifyAddress, WatchdogIsOursOnly)
{
    const struct {
        const char* usec;
        const char* pid;
        uint64_t expected;
    } rows[] = {
        {"60000000", nullptr, 60000000},
        {"60000000", "", 60000000},
        {"60000000", "42", 60000000},
        {"60000000", "43", 0},
        {"60000000", "42x", 0},
        {nullptr, "42", 0},
        {"0", nullptr, 0},
        {"-5", nullptr, 0},
        {"60s", nullptr, 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, get_Watchdog_Usec(row.usec, row.pid, 42))
            << (row.usec ? row.usec : "(unset)") << " " << (row.pid ? row.pid : "(unset)");
}

TEST(StatusLine, NamesTheReportTheBusTheRouteAndTheManager)
{
    Network::Config routed;
    routed.target_interface = "eth0";
    routed.ip4_address = "10.0.0.5";
    routed.ip4_subnetmask = "255.255.255.0";
    routed.ip4_gateway = "10.0.0.1";
    Network::Config link_only = routed;
    link_only.ip4_gateway = "0.0.0.0";
    Network::Config none;
    none.ip4_address = "0.0.0.0";
    Transmit_Health healthy{6, 1, false};
    Transmit_Health wedged{6, 1, true};
    EXPECT_EQ("last report 14:02:11, 7 packets (1 failed); eth0 10.0.0.5/24 via 10.0.0.1; netplan",
              get_Status_Text("14:02:11", healthy, routed, "netplan"));
    EXPECT_EQ("last report 14:02:11, 7 packets (1 failed); eth0 10.0.0.5/24; ifupdown",
              get_Status_Text("14:02:11", healthy, link_only, "ifupdown"));
    EXPECT_EQ("no report yet, 7 packets (1 failed), the bus is not taking writes; no default route; "
              "no network manager for eth0",
              get_Status_Text("", wedged, none, "UNKNOWN"));
}

} // namespace
