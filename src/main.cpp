#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "BMC_data_protocol.h"
#include "I2C_BMC_packet_thread.h"
#include "build_info.h"
#include "host_events.h"
#include "host_report.h"
#include "extra_command_handling.h"
#include "log.h"
#include "monotonic_clock.h"
#include "netplan_reader.h"
#include "network.h"
#include "service_notify.h"
#include "service_status.h"
#include "settings_trial.h"
#include "stop_signal.h"

namespace {

const char* const __log_tag = "main";
const char* const network_interface = "eth0";
const char* const i2c_device_path = "/dev/i2c-2";
const long long report_period_ms = 120000;
// Without the kernel's route events the route is read this often, as a fallback.
const long long route_poll_ms = 2000;
// A bus node that was removed is looked at once udev had time to make the new one.
const long long bus_settle_ms = 1000;
// The status line is read again this often while a report is still being written.
const long long status_refresh_ms = 2000;
// Start-up's nmcli calls: a hung NetworkManager must not hold the first report back.
const unsigned int startup_nmcli_call_seconds = 3;
const unsigned int startup_nmcli_total_seconds = 6;

// Broadcasts from the BMC would land here; nothing reads the bus.
int BMC_Broadcast_Packet_Handler(const BMC::Packet&)
{
    return 0;
}

// Runs on the transmit thread for every packet it could not write (the write logged why).
int BMC_Packet_Receive_Error_Handler(BMC::Packet* response_packet, uint8_t)
{
    BMC::init_Packet(response_packet, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::ERROR, false,
                     BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, nullptr, 0);
    return 0;
}

// What the loop waits for, each on the monotonic clock in ms (-1: not waiting for it).
struct Loop_Times {
    long long report = -1;
    long long burst_first = -1;
    long long burst_last = -1;
    long long route_poll = -1;
    long long bus_check = -1;
    long long status = -1;
    long long watchdog = -1;
    long long trial = -1;
};

int get_Loop_Wait_Ms(const Loop_Times& due, long long now)
{
    long long look = due.burst_first < 0 ? -1 : get_Event_Look_Ms(due.burst_first, due.burst_last);
    return get_Wait_Ms(
        now, {due.report, look, due.route_poll, due.bus_check, due.status, due.watchdog, due.trial});
}

bool get_Reached(long long due, long long now)
{
    return due >= 0 && now >= due;
}

// Looks at the trial record; when the watch asks to look again, or the state directory cannot be
// watched and the record is looked for on the fallback's period.
long long get_Trial_Due(long long now, bool watched)
{
    long long look_ms = update_Trial_Watch();
    if (look_ms < 0 && !watched)
        look_ms = route_poll_ms;
    return look_ms < 0 ? -1 : now + look_ms;
}

[[noreturn]] void set_Daemon_Stopped()
{
    (void)set_Service_Notify("STOPPING=1");
    set_Trial_Watch_Stop();
    // The transmit thread may be inside a bus write that never returns: it is not waited for.
    // Every open stream (the log file's too) is written out before _exit skips the rest.
    (void)fflush(nullptr);
    _exit(0);
}

// A stop during start-up ends it between two steps: a slow lookup does not hold systemctl stop.
void set_Stopped_If_Asked()
{
    if (get_Stop_Requested())
        set_Daemon_Stopped();
}

} // namespace

int main(int, char**)
{
    // Before any thread starts: the notify variables are read and unset here.
    init_Service_Notify();
    // A write to a closed pipe must fail with EPIPE, not end the daemon.
    (void)signal(SIGPIPE, SIG_IGN);
    // A stop wakes the loop; a settings rollback in progress stops before its next step.
    if (!init_Stop_Signal())
        LOG_ERROR("cannot take SIGTERM: a stop ends the daemon at once");
    // Line buffering keeps journal lines whole; without it the daemon still runs.
    (void)setvbuf(stdout, nullptr, _IOLBF, 0);
    (void)setvbuf(stderr, nullptr, _IOLBF, 0);

    // libnetplan and GLib stay out of the daemon: each reading of netplan's files runs in its reader.
    set_netplan_Reader_Beside(LUMERION_NETPLAN_READER);
    // What a crash left half written goes before anything is read.
    set_Trial_Leftovers_Removed();
    set_Stopped_If_Asked();
    set_Tool_Budget("nmcli", startup_nmcli_call_seconds, startup_nmcli_total_seconds);
    Network::set_Interface_Name(network_interface);
    clear_Tool_Budget();
    set_Stopped_If_Asked();

    // The loop sleeps until something happens: a lost bus and a finished rollback wake it.
    Host_Events events;
    std::string events_error;
    bool route_events = events.init(trial_state_directory, trial_record_name, i2c_device_path, &events_error);
    set_I2C_BMC_Bus_Lost_Wake(set_Loop_Wake);
    set_Trial_Finish_Wake(set_Loop_Wake);

    // Without the bus there is nothing to report to: exit so that the
    // service manager restarts the daemon.
    int started = init_I2C_BMC_Packet_Thread(BMC_Broadcast_Packet_Handler, BMC_Packet_Receive_Error_Handler);
    if (started == 2) {
        LOG_ERROR("cannot open %s, exiting", i2c_device_path);
        return 1;
    }
    if (started != 0) {
        LOG_ERROR("cannot start the transmit thread for %s, exiting", i2c_device_path);
        return 1;
    }

    LOG_INFO("Lumerion Altra Host Main Daemon %s [%s] - %s %s", LUMERION_VERSION_TEXT,
             LUMERION_SOURCE_REVISION, LUMERION_BUILD_DATE, LUMERION_BUILD_TIME);
    if (!route_events)
        LOG_ERROR("%s: the route is read every %lld s instead", events_error.c_str(), route_poll_ms / 1000);
    set_Stopped_If_Asked();
    // The first report names the address: the route is read before it.
    Network::update_Default_IP_Info();
    update_Broadcast_Packet(true);
    // The thread runs and the first report is queued.
    (void)set_Service_Notify("READY=1");

    Loop_Times due;
    long long now = get_Monotonic_Ms();
    due.report = now + report_period_ms;
    due.route_poll = route_events ? -1 : now + route_poll_ms;
    long long watchdog_ms = static_cast<long long>(get_Service_Watchdog_Usec() / 2000);
    due.watchdog = watchdog_ms > 0 ? now + watchdog_ms : -1;
    due.status = update_Service_State(true) ? now + status_refresh_ms : -1;
    // A trial left open by the last run (or boot) is judged from the start.
    due.trial = get_Trial_Due(now, events.get_State_Watched());

    for (;;) {
        if (get_Stop_Requested())
            set_Daemon_Stopped();
        if (get_I2C_BMC_Bus_Lost()) {
            // The ended thread is joined: its last work is over before the queues go.
            set_I2C_BMC_Packet_Thread_Stop();
            set_Trial_Watch_Stop();
            LOG_ERROR("cannot open %s, exiting", i2c_device_path);
            return 1;
        }
        Host_Event_Set seen = events.get_Wait(get_Stop_Signal_Descriptor(), get_Loop_Wait_Ms(due, now));
        now = get_Monotonic_Ms();
        if (seen.route) {
            if (due.burst_first < 0)
                due.burst_first = now;
            due.burst_last = now;
        }
        if (seen.bus_node)
            due.bus_check = now + bus_settle_ms;
        if (get_Reached(due.bus_check, now)) {
            due.bus_check = -1;
            set_I2C_BMC_Bus_Check();
        }

        bool report_due = get_Reached(due.report, now);
        bool burst_over = due.burst_first >= 0 && now >= get_Event_Look_Ms(due.burst_first, due.burst_last);
        bool reported = false;
        if (report_due || burst_over || get_Reached(due.route_poll, now)) {
            due.burst_first = due.burst_last = -1;
            if (due.route_poll >= 0)
                due.route_poll = now + route_poll_ms;
            // The kernel's table is the truth; the event only said when to read it.
            Network::update_Default_IP_Info();
            // A replaced bus node is opened again before the report's first write.
            set_I2C_BMC_Bus_Check();
            reported = update_Broadcast_Packet(report_due);
            if (reported)
                due.report = now + report_period_ms;
        }

        if (seen.state || seen.woken || get_Reached(due.trial, now))
            due.trial = get_Trial_Due(now, events.get_State_Watched());

        bool watchdog_due = get_Reached(due.watchdog, now);
        if (watchdog_due)
            due.watchdog = now + watchdog_ms;
        if (reported || watchdog_due || get_Reached(due.status, now))
            due.status = update_Service_State(reported) ? now + status_refresh_ms : -1;
    }
}
