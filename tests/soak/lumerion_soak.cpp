// A long run of the real daemon inside the host sandbox, with the BMC's end
// of the bus reading along: the default route flaps every 5 s and the bus
// reader goes away for 3 s every 30 s. Every packet must decode, every flap
// must reach the bus within the coalescing time plus the drain time, and
// resident memory and open descriptors must stay flat from the first minute on.
// With --idle nothing changes and only the daemon's own costs are measured;
// with --latency N the address changes N times, each once its report is in,
// and the time from "ip addr" to the report's first packet is measured.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bus_reader.h"
#include "process.h"
#include "sandbox.h"

namespace {

const double flap_period = 5.0;
const double away_period = 30.0;
const double away_offset = 12.0;
const double away_length = 3.0;
// The longest coalescing of a burst, a whole report drained at 0.22 s a packet, and slack.
const double flap_allowance = 0.5 + 7 * 0.25 + 1.5;
const long rss_growth_allowed_kb = 256;

struct Usage {
    double cpu_seconds = 0;
    long context_switches = 0;
    long rss_kb = 0;
    long pss_kb = 0;
    int descriptors = 0;
};

std::string get_Field(const std::string& text, const std::string& name)
{
    size_t at = text.find(name + ":");
    if (at == std::string::npos)
        return "";
    return text.substr(at + name.size() + 1, text.find('\n', at) - at - name.size() - 1);
}

Usage get_Usage(int pid)
{
    Usage usage;
    std::string proc = "/proc/" + std::to_string(pid);
    std::string stat = read_File(proc + "/stat");
    size_t end = stat.rfind(") ");
    if (end != std::string::npos) {
        std::vector<std::string> fields;
        std::istringstream rest(stat.substr(end + 2));
        for (std::string field; rest >> field;)
            fields.push_back(field);
        // utime and stime: fields 14 and 15 of the line, 12 and 13 after the name.
        if (fields.size() > 12)
            usage.cpu_seconds = (atof(fields[11].c_str()) + atof(fields[12].c_str())) /
                                static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    usage.rss_kb = atol(get_Field(read_File(proc + "/status"), "VmRSS").c_str());
    usage.pss_kb = atol(get_Field(read_File(proc + "/smaps_rollup"), "Pss").c_str());
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator(proc + "/task", ignored)) {
        std::string status = read_File(task.path().string() + "/status");
        usage.context_switches += atol(get_Field(status, "voluntary_ctxt_switches").c_str()) +
                                  atol(get_Field(status, "nonvoluntary_ctxt_switches").c_str());
    }
    for (auto it = std::filesystem::directory_iterator(proc + "/fd", ignored);
         it != std::filesystem::directory_iterator(); it.increment(ignored))
        ++usage.descriptors;
    return usage;
}

struct Flap {
    double at;
    std::string address;
    double away; // seconds the bus reader was away within the allowance
};

// The address a report packet carries, or "" for other packets.
std::string get_Reported_Address(const std::vector<uint8_t>& packet)
{
    if (packet.size() < 7 || packet[4] != 0x02 || packet.back() != 0)
        return "";
    return std::string(packet.begin() + 5, packet.end() - 1);
}

void print_Usage(const char* when, const Usage& u)
{
    printf("%-14s cpu %.2f s, context switches %ld, resident %ld KiB, proportional %ld KiB, descriptors %d\n",
           when, u.cpu_seconds, u.context_switches, u.rss_kb, u.pss_kb, u.descriptors);
}

int run_Idle(Daemon_Process& daemon, double duration)
{
    Bus_Reader bus;
    // Start-up and the first report are not idle time.
    bus.read_Until(7, daemon.started + generous_seconds);
    bus.collect(5.0);
    Usage first = get_Usage(daemon.get_Pid());
    double from = get_Monotonic_Seconds();
    bus.collect(duration);
    Usage last = get_Usage(daemon.get_Pid());
    double seconds = get_Monotonic_Seconds() - from;
    print_Usage("idle start", first);
    print_Usage("idle end", last);
    printf("idle over %.0f s: %.3f s of CPU a minute, %.3f context switches a second (all threads), resident "
           "%ld KiB, proportional %ld KiB\n",
           seconds, (last.cpu_seconds - first.cpu_seconds) * 60.0 / seconds,
           static_cast<double>(last.context_switches - first.context_switches) / seconds, last.rss_kb,
           last.pss_kb);
    return daemon.running() ? 0 : 1;
}

// Each change waits for the report of the one before, so that no two share a burst.
int run_Latency(Daemon_Process& daemon, int changes)
{
    const char* configs[2][2] = {{"10.9.8.7/16", "10.9.0.1"}, {"192.168.1.10/24", "192.168.1.1"}};
    Bus_Reader bus;
    bus.read_Until(7, daemon.started + generous_seconds);
    bus.collect(1.0);
    std::vector<double> latencies;
    for (int i = 0; i < changes && daemon.running(); ++i) {
        const char* const* c = configs[i % 2];
        std::string address(c[0]);
        address.resize(address.find('/'));
        bus.packets.clear();
        bus.times.clear();
        double changed = get_Monotonic_Seconds();
        run_Shell(std::string("ip addr flush dev eth0 && ip addr add ") + c[0] +
                  " dev eth0 && ip route add default via " + c[1]);
        bus.read_Until(7, changed + generous_seconds);
        if (bus.packets.size() < 7 || get_Reported_Address(bus.packets[1]) != address) {
            fprintf(stderr, "change %d to %s: no report\n", i + 1, address.c_str());
            return 1;
        }
        latencies.push_back(bus.times[0] - changed);
    }
    if (latencies.empty())
        return 1;
    std::sort(latencies.begin(), latencies.end());
    size_t n = latencies.size();
    double median = n % 2 ? latencies[n / 2] : (latencies[n / 2 - 1] + latencies[n / 2]) / 2;
    printf(
        "report latency over %zu address changes, \"ip addr\" to the report's first packet: median %.0f ms, "
        "maximum %.0f ms\n",
        n, median * 1000, latencies.back() * 1000);
    return daemon.running() ? 0 : 1;
}

int run_Soak(Daemon_Process& daemon, double duration)
{
    const char* configs[2][2] = {{"10.9.8.7/16", "10.9.0.1"}, {"192.168.1.10/24", "192.168.1.1"}};
    std::vector<std::vector<uint8_t>> packets;
    std::vector<double> times;
    size_t frame_errors = 0;
    std::vector<Flap> flaps;
    std::unique_ptr<Bus_Reader> bus(new Bus_Reader());
    double start = daemon.started;
    double next_flap = start + flap_period;
    double away_until = 0;
    double next_away = start + away_offset;
    bool have_first = false;
    Usage first;
    auto keep = [&]() {
        packets.insert(packets.end(), bus->packets.begin(), bus->packets.end());
        times.insert(times.end(), bus->times.begin(), bus->times.end());
        frame_errors += bus->errors.size();
        bus->packets.clear();
        bus->times.clear();
        bus->errors.clear();
    };
    while (get_Monotonic_Seconds() < start + duration && daemon.running()) {
        double now = get_Monotonic_Seconds();
        if (bus)
            bus->read_Until(static_cast<size_t>(-1), now + 0.1);
        else
            usleep(100000);
        now = get_Monotonic_Seconds();
        if (now >= next_flap) {
            const char* const* c = configs[flaps.size() % 2];
            run_Shell(std::string("ip addr flush dev eth0 && ip addr add ") + c[0] +
                      " dev eth0 && ip route add default via " + c[1]);
            std::string address(c[0]);
            flaps.push_back({get_Monotonic_Seconds(), address.substr(0, address.find('/')), 0});
            next_flap += flap_period;
        }
        if (bus && now >= next_away) {
            keep();
            bus.reset();
            away_until = now + away_length;
            for (Flap& f : flaps)
                if (f.at + flap_allowance > now)
                    f.away += away_length;
            next_away += away_period;
        } else if (!bus && now >= away_until) {
            bus.reset(new Bus_Reader());
        }
        if (!have_first && now >= start + 60.0) {
            first = get_Usage(daemon.get_Pid());
            have_first = true;
        }
    }
    if (!bus)
        bus.reset(new Bus_Reader());
    bus->collect(flap_allowance);
    keep();
    Usage last = get_Usage(daemon.get_Pid());
    bool alive = daemon.running();
    if (!have_first)
        first = last;

    // A flap counts as reported when its address reaches the bus after it.
    size_t late = 0;
    double worst = 0;
    for (size_t i = 0; i + 1 < flaps.size(); ++i) {
        const Flap& f = flaps[i];
        double arrived = -1;
        for (size_t p = 0; p < packets.size() && arrived < 0; ++p)
            if (times[p] >= f.at && get_Reported_Address(packets[p]) == f.address)
                arrived = times[p];
        double latency = arrived < 0 ? 1e9 : arrived - f.at;
        if (latency > flap_allowance + f.away)
            ++late;
        else if (latency - f.away > worst)
            worst = latency - f.away;
    }
    double seconds = get_Monotonic_Seconds() - start;
    printf("soak over %.0f s: %zu packets, %zu that did not decode, %zu flaps, %zu not reported in time, "
           "slowest report %.2f s after its flap (allowed %.2f s)\n",
           seconds, packets.size(), frame_errors, flaps.size() - 1, late, worst, flap_allowance);
    print_Usage("first minute", first);
    print_Usage("last", last);
    bool flat = last.descriptors == first.descriptors && last.rss_kb - first.rss_kb <= rss_growth_allowed_kb;
    printf("daemon %s; memory and descriptors %s\n", alive ? "running" : "ENDED", flat ? "flat" : "GREW");
    return alive && frame_errors == 0 && late == 0 && flat && flaps.size() > 1 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    double duration = 120;
    bool idle = false;
    int changes = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--duration" && i + 1 < argc)
            duration = atof(argv[++i]);
        else if (arg == "--idle")
            idle = true;
        else if (arg == "--latency" && i + 1 < argc)
            changes = atoi(argv[++i]);
        else {
            fprintf(stderr, "usage: %s [--duration SECONDS] [--idle | --latency CHANGES]\n", argv[0]);
            return 2;
        }
    }
    if (get_Sandbox_Dir().empty()) {
        fprintf(stderr, "%s: run me through tests/sandbox/host-sandbox\n", argv[0]);
        return 2;
    }
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);
    set_Tool_Answer("lsblk", "-p -o NAME,SIZE,TYPE -n --exclude 1,7", "/dev/sda 1.8T disk\n");
    run_Shell("ip addr add 192.168.1.10/24 dev eth0 && ip route add default via 192.168.1.1");
    Daemon_Process daemon;
    if (!daemon.start(LUMERION_HOSTD_PATH)) {
        fprintf(stderr, "cannot start %s\n", LUMERION_HOSTD_PATH);
        return 1;
    }
    int rc = changes > 0 ? run_Latency(daemon, changes)
             : idle      ? run_Idle(daemon, duration)
                         : run_Soak(daemon, duration);
    daemon.stop();
    std::string err = daemon.err();
    if (!err.empty())
        printf("daemon's error lines:\n%s", err.c_str());
    return rc;
}
