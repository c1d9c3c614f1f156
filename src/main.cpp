#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include "BMC_data_protocol.h"
#include "I2C_BMC_packet_thread.h"
#include "build_info.h"
#include "host_report.h"
#include "log.h"
#include "extra_command_handling.h"
#include "network.h"
#include "service_notify.h"
#include "service_status.h"
#include "settings_trial.h"
#include "stop_signal.h"

namespace {

const char* const __log_tag = "main";
const char* const network_interface = "eth0";
const char* const i2c_device_path = "/dev/i2c-2";
const unsigned int loop_period_sec = 2;
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

} // namespace

int main(int, char**)
{
    // Before any thread starts: the notify variables are read and unset here.
    init_Service_Notify();
    // A write to a closed pipe must fail with EPIPE, not end the daemon.
    (void)signal(SIGPIPE, SIG_IGN);
    // A stop ends the loop between two passes; a settings rollback in progress stops before its next step.
    if (!init_Stop_Signal())
        LOG_ERROR("cannot take SIGTERM: a stop ends the daemon at once");
    // Line buffering keeps journal lines whole; without it the daemon still runs.
    (void)setvbuf(stdout, nullptr, _IOLBF, 0);
    (void)setvbuf(stderr, nullptr, _IOLBF, 0);

    set_Tool_Budget("nmcli", startup_nmcli_call_seconds, startup_nmcli_total_seconds);
    Network::set_Interface_Name(network_interface);
    clear_Tool_Budget();

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
    // The first report names the address: the route is read before it, and that reading is no change.
    Network::update_Default_IP_Info();
    (void)Network::get_Default_IP_Info_Update_Flag();
    update_Broadcast_Packet(true);
    // The thread runs and the first report is queued.
    (void)set_Service_Notify("READY=1");
    update_Service_State(true);

    for (;;) {
        if (get_Stop_Requested()) {
            (void)set_Service_Notify("STOPPING=1");
            set_Trial_Watch_Stop();
            // The transmit thread may be inside a bus write that never returns: it is not waited for.
            // Every open stream (the log file's too) is written out before _exit skips the rest.
            (void)fflush(nullptr);
            _exit(0);
        }
        if (get_I2C_BMC_Bus_Lost()) {
            // The ended thread is joined: its last work is over before the queues go.
            set_I2C_BMC_Packet_Thread_Stop();
            set_Trial_Watch_Stop();
            LOG_ERROR("cannot open %s, exiting", i2c_device_path);
            return 1;
        }
        set_I2C_BMC_Bus_Check();
        Network::update_Default_IP_Info();
        bool reported = update_Broadcast_Packet(false);
        // A change whose applier is gone is finished here once its window has ended.
        update_Trial_Watch();
        update_Service_State(reported);
        struct pollfd stop = {get_Stop_Signal_Descriptor(), POLLIN, 0};
        (void)poll(&stop, stop.fd >= 0 ? 1 : 0, static_cast<int>(loop_period_sec * 1000));
    }
}
