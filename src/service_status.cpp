#include "service_status.h"

#include <time.h>

#include "network_parse.h"
#include "service_notify.h"

namespace {

std::string report_clock;

} // namespace

std::string get_Status_Text(const std::string& clock, const Transmit_Health& health,
                            const Network::Config& live, const std::string& manager)
{
    std::string text = clock.empty() ? "no report yet" : "last report " + clock;
    text += ", " + std::to_string(health.written + health.failed) + " packets (" +
            std::to_string(health.failed) + " failed)";
    if (health.stalled)
        text += ", the bus is not taking writes";
    bool routed =
        !live.target_interface.empty() && !live.ip4_address.empty() && live.ip4_address != "0.0.0.0";
    if (!routed) {
        text += "; no default route";
    } else {
        text += "; " + live.target_interface + " " + live.ip4_address + "/" +
                std::to_string(get_Subnetmask_Bit_Count(live.ip4_subnetmask.c_str()));
        if (!live.ip4_gateway.empty() && live.ip4_gateway != "0.0.0.0")
            text += " via " + live.ip4_gateway;
    }
    return text + "; " + (manager == "UNKNOWN" ? "no network manager for eth0" : manager);
}

bool update_Service_State(bool reported)
{
    // Outside systemd there is nobody to tell.
    if (!get_Service_Notify_Active())
        return false;
    if (reported) {
        time_t now = time(nullptr);
        struct tm local;
        char clock[16] = "";
        if (localtime_r(&now, &local) != nullptr && strftime(clock, sizeof(clock), "%H:%M:%S", &local) > 0)
            report_clock = clock;
    }
    uint64_t watchdog_usec = get_Service_Watchdog_Usec();
    // Half the interval: systemd then still gets a ping in time once the bus moves again.
    long long stall_ms = watchdog_usec > 0 ? static_cast<long long>(watchdog_usec / 2000) : 60000;
    Transmit_Health health = get_I2C_BMC_Transmit_Health(stall_ms);
    set_Service_Status(get_Status_Text(report_clock, health, Network::get_Default_IP_Info(),
                                       Network::get_Selected_Manager_Name()));
    if (watchdog_usec > 0 && !health.stalled)
        (void)set_Service_Notify("WATCHDOG=1");
    return !health.idle;
}
