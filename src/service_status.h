#ifndef LUMERION_SERVICE_STATUS_H
#define LUMERION_SERVICE_STATUS_H

#include <string>

#include "I2C_BMC_packet_thread.h"
#include "network.h"

// The status line systemctl shows, e.g. "last report 14:02:11, 7 packets (0
// failed); eth0 10.0.0.5/24 via 10.0.0.1; netplan": when the last report was
// queued (local time, "" for none yet), the bus's counts, the default-route
// interface and the manager start-up found.
std::string get_Status_Text(const std::string& report_clock, const Transmit_Health& health,
                            const Network::Config& live, const std::string& manager);

// Under systemd, after a report and at each watchdog period: the status line
// when it changed, and a watchdog ping unless the bus has had a write in
// progress for half the watchdog's interval. True while packets are still
// queued or being written, so that the status is looked at again.
bool update_Service_State(bool reported);

#endif
