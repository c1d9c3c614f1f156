// Costs of a settings change: the netplan and stanza edits on text, and a
// whole netplan apply with netplan's generator judging the new file (the
// apply runs only inside the host sandbox, where "netplan apply" is a fake).
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

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
