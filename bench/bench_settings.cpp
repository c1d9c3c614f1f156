// Costs of a settings change and of the route refresh: the netplan and
// stanza edits on text and how they grow with the file, a whole netplan
// apply with netplan's generator judging the new file, and one refresh of
// the default route (the last two run only inside the host sandbox, where
// "netplan apply" is a fake and eth0 is the sandbox's own).
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config_file_handling.h"
#include "network.h"

namespace {

const std::string static_document =
    "network:\n  version: 2\n  ethernets:\n    eth0:\n      dhcp4: false\n"
    "      addresses: [\"fe80::5/64\", 10.0.0.5/24]\n      routes:\n"
    "        - to: default\n          via: 10.0.0.1\n        - to: 10.1.0.0/16\n"
    "          via: 10.0.0.254\n      nameservers:\n        search: [lab]\n"
    "        addresses: [10.0.0.53]\n";

const Network::Config staged{"eth0", false, "192.168.1.10", "255.255.255.0", "192.168.1.1", "9.9.9.9", ""};

void netplan_Transform(benchmark::State& state)
{
    std::string text;
    std::string reason;
    for (auto _ : state)
        benchmark::DoNotOptimize(get_netplan_Update_Text(static_document, staged, &text, &reason));
}
BENCHMARK(netplan_Transform);

void stanza_Address_Write(benchmark::State& state)
{
    const std::string stanza = "auto eth0\niface eth0 inet static\n    address 192.168.1.10\n"
                               "    netmask 255.255.255.0\n    gateway 192.168.1.1\n\n"
                               "iface eth0 inet6 static\n    address 2001:db8::5\n    netmask 64\n";
    std::string text;
    std::string reason;
    for (auto _ : state)
        benchmark::DoNotOptimize(get_ifupdown_Update_Text(stanza, "eth0", Network::CONFIG_TYPE::IP_ADDRESS,
                                                          "10.0.0.5", &text, &reason));
}
BENCHMARK(stanza_Address_Write);

// A netplan document with `count` interfaces, eth0 the last of them.
std::string get_Interfaces_Document(int count)
{
    std::string text = "network:\n  version: 2\n  ethernets:\n";
    for (int i = count - 1; i >= 0; --i)
        text += "    eth" + std::to_string(i) + ":\n      dhcp4: false\n      addresses: [10.0." +
                std::to_string(i % 250) +
                ".5/24]\n      nameservers:\n        search: [lab]\n        addresses: [10.0.0.53]\n";
    return text;
}

void netplan_Transform_Interfaces(benchmark::State& state)
{
    std::string document = get_Interfaces_Document(static_cast<int>(state.range(0)));
    std::string text;
    std::string reason;
    for (auto _ : state)
        benchmark::DoNotOptimize(get_netplan_Update_Text(document, staged, &text, &reason));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(netplan_Transform_Interfaces)->RangeMultiplier(10)->Range(1, 100)->Complexity();

// A stanza file of `lines` lines: eth0's inet stanza last, after other interfaces'.
std::string get_Stanza_File(int lines)
{
    std::string text;
    for (int i = 0; i + 4 < lines; i += 4)
        text += "iface eth" + std::to_string(i + 1) + " inet static\n    address 10.1.0." +
                std::to_string(i % 250) + "\n    netmask 255.255.255.0\n\n";
    return text + "iface eth0 inet static\n    address 192.168.1.10\n    netmask 255.255.255.0\n";
}

void stanza_Edit_Lines(benchmark::State& state)
{
    std::string file = get_Stanza_File(static_cast<int>(state.range(0)));
    std::string text;
    std::string reason;
    for (auto _ : state)
        benchmark::DoNotOptimize(get_ifupdown_Update_Text(file, "eth0", Network::CONFIG_TYPE::IP_ADDRESS,
                                                          "10.0.0.5", &text, &reason));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(stanza_Edit_Lines)->RangeMultiplier(10)->Range(100, 10000)->Complexity();

void key_Value_Edit_Lines(benchmark::State& state)
{
    std::string file = get_Stanza_File(static_cast<int>(state.range(0)));
    bool replaced = false;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            Config_File::set_Data_Text(file, "gateway", "10.0.0.1", ' ', nullptr, &replaced));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(key_Value_Edit_Lines)->RangeMultiplier(10)->Range(100, 10000)->Complexity();

void route_Refresh(benchmark::State& state)
{
    if (getenv("HOST_SANDBOX_DIR") == nullptr) {
        state.SkipWithError("reads the sandbox's eth0: run it through tests/sandbox/host-sandbox");
        return;
    }
    for (auto _ : state)
        Network::update_Default_IP_Info();
}
BENCHMARK(route_Refresh);

void netplan_Apply(benchmark::State& state)
{
    if (getenv("HOST_SANDBOX_DIR") == nullptr) {
        state.SkipWithError("writes /etc/netplan: run it through tests/sandbox/host-sandbox");
        return;
    }
    std::filesystem::create_directories("/etc/netplan");
    std::ofstream("/etc/netplan/01-netcfg.yaml") << static_document;
    Network::set_Interface_Name("eth0");
    Network::set_Config(Network::CONFIG_TYPE::IP_ADDRESS, "192.168.1.10");
    Network::set_Config(Network::CONFIG_TYPE::SUBNETMASK, "255.255.255.0");
    for (auto _ : state)
        if (!Network::set_Config_Apply())
            state.SkipWithError("apply refused");
}
BENCHMARK(netplan_Apply)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
