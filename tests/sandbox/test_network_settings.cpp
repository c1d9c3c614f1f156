// Settings through ifupdown and NetworkManager, and whole BMC request
// sequences through the packet handler on each kind of host, checked with
// the real ifquery and "nmcli --offline" as parsers of what was written.
#include <gtest/gtest.h>

#include <string.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "BMC_data_protocol.h"
#include "I2C_BMC_packet_thread.h"
#include "log.h"
#include "network.h"
#include "host_paths.h"
#include "network_access.h"
#include "parser_judges.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;
using Access = Network_Test_Access;
using Type = Network::CONFIG_TYPE;

const std::string static_stanza = "auto eth0\n"
                                  "iface eth0 inet static\n"
                                  "    hwaddress ether 02:00:00:00:00:01\n"
                                  "    address 192.168.1.10\n"
                                  "    netmask 255.255.255.0\n"
                                  "    gateway 192.168.1.1\n";

const std::string default_keyfile = "[connection]\ntype=ethernet\nautoconnect=yes\nautoconnect-priority=0\n"
                                    "interface-name=eth0\n\n[ethernet]\n\n[ipv4]\nmethod=auto\n\n[proxy]\n";

// The profile NetworkManager makes of the keyfile after one "nmcli con mod"
// whose arguments the fake nmcli logged (the keyfile's id is the file name's).
// The log joins arguments with blanks: a setting right after another had an empty value.
std::string nmcli_Offline_Modify(const std::string& logged_call)
{
    const std::string prefix = "nmcli con mod uuid " + profile_uuid + " ";
    EXPECT_EQ(0u, logged_call.find(prefix)) << logged_call;
    std::istringstream words(logged_call.substr(prefix.size()));
    std::vector<std::string> args;
    for (std::string word; words >> word;) {
        bool setting = word.compare(0, 5, "ipv4.") == 0;
        if (setting && !args.empty() && args.size() % 2 == 1)
            args.push_back("''");
        args.push_back(setting ? word : "'" + word + "'");
    }
    if (args.size() % 2 == 1)
        args.push_back("''");
    std::string settings;
    for (const std::string& arg : args)
        settings += " " + arg;
    std::string profile = get_Sandbox_Dir() + "/profile.nmconnection";
    write_File(profile, "[connection]\nid=eth0\n" + read_File(keyfile).substr(strlen("[connection]\n")));
    std::string out = get_Sandbox_Dir() + "/offline.out";
    int rc = run_Shell("/usr/bin/nmcli --offline connection modify" + settings + " < " + profile + " > " +
                       out + " 2>&1");
    EXPECT_EQ(0, rc) << read_File(out);
    return read_File(out);
}

// A text item as a BMC sends it: the text and its NUL.
void send_Text(uint8_t subaddress, const std::string& text)
{
    BMC::Packet packet;
    BMC::init_Packet(&packet, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::NETWORK,
                     subaddress, BMC::DATA_TYPE::STRING, text.c_str(), static_cast<uint8_t>(text.size() + 1));
    I2C_BMC_Packet_Hander(&packet);
}

void send_Byte(uint8_t subaddress, uint8_t value)
{
    BMC::Packet packet;
    BMC::init_Packet(&packet, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::NETWORK,
                     subaddress, BMC::DATA_TYPE::UINT8, &value, 1);
    I2C_BMC_Packet_Hander(&packet);
}

// What a BMC sends to make the host static, then apply, then name it.
void send_Static_Sequence(const std::string& hostname)
{
    send_Byte(BMC::SUBADDRESS_NETWORK_CONFIG_MODE, BMC::SUBADDRESS_NETWORK_CONFIG_MODE_STATIC);
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS, "192.168.1.10");
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_SUBNETMASK, "255.255.255.0");
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_GATEWAY, "192.168.1.1");
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_DNS1, "9.9.9.9");
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_DNS2, "1.0.0.1");
    send_Byte(BMC::SUBADDRESS_NETWORK_CONFIG_APPLY, 1);
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_HOSTNAME, hostname);
}

void send_Dhcp_Sequence()
{
    send_Byte(BMC::SUBADDRESS_NETWORK_CONFIG_MODE, BMC::SUBADDRESS_NETWORK_CONFIG_MODE_DHCP);
    send_Byte(BMC::SUBADDRESS_NETWORK_CONFIG_APPLY, 0);
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        make_Manager_Directories();
        // eth0's own address and default route are what a read falls back to.
        ASSERT_EQ(0,
                  run_Shell("ip addr add 192.168.9.9/16 dev eth0 && ip route add default via 192.168.9.1"));
    }
    void select(const std::string& manager)
    {
        if (manager == "ifupdown")
            write_File(stanza_file, static_stanza);
        if (manager == "nm") {
            write_File(keyfile, default_keyfile);
            set_Nmcli_Profile(profile_uuid, keyfile, true);
        }
        set_Tool_Answer("systemctl", "is-active NetworkManager", manager == "nm" ? "active\n" : "inactive\n");
        Network::set_Interface_Name("eth0");
        clear_Tool_Calls();
    }
};

TEST_F(Settings, IfupdownModeRoundTripKeepsTheStaticValues)
{
    select("ifupdown");
    EXPECT_EQ("1", read_Setting(Type::MODE));
    EXPECT_EQ("192.168.1.10", read_Setting(Type::IP_ADDRESS));
    EXPECT_EQ("255.255.255.0", read_Setting(Type::SUBNETMASK));
    EXPECT_EQ("192.168.1.1", read_Setting(Type::GATEWAY));
    EXPECT_EQ("", read_Setting(Type::DNS1));

    // A staged value is written at the apply, and the reads give the file's values until then.
    EXPECT_EQ(0, Network::set_Config(Type::MODE, ""));
    EXPECT_EQ(static_stanza, read_File(stanza_file));
    EXPECT_EQ("1", read_Setting(Type::MODE));
    EXPECT_TRUE(Network::set_Config_Apply());
    EXPECT_EQ(
        "auto eth0\niface eth0 inet dhcp\n    hwaddress ether 02:00:00:00:00:01\n    #address 192.168.1.10\n"
        "    #netmask 255.255.255.0\n    #gateway 192.168.1.1\n",
        read_File(stanza_file));
    EXPECT_EQ("hwaddress: 02:00:00:00:00:01\n", get_Ifquery_Options(stanza_file));
    EXPECT_EQ("0", read_Setting(Type::MODE));
    EXPECT_EQ("", read_Setting(Type::IP_ADDRESS));

    EXPECT_EQ(0, Network::set_Config(Type::MODE, "\x01"));
    EXPECT_TRUE(Network::set_Config_Apply());
    EXPECT_EQ(static_stanza, read_File(stanza_file));
    EXPECT_EQ(
        "hwaddress: 02:00:00:00:00:01\naddress: 192.168.1.10\nnetmask: 255.255.255.0\ngateway: 192.168.1.1\n"
        "broadcast: 192.168.1.255\n",
        get_Ifquery_Options(stanza_file));
    EXPECT_EQ(4u, get_Command_Calls().size());
}

// A refused apply keeps what was staged: the next apply writes it with what came since, and a change
// begins anew after an apply that wrote.
TEST_F(Settings, IfupdownStagedValuesOutliveARefusal)
{
    write_File(stanza_file, "auto eth0\niface eth0 inet dhcp\n");
    select("");
    EXPECT_EQ(0, Network::set_Config(Type::MODE, "\x01"));
    EXPECT_EQ(0, Network::set_Config(Type::IP_ADDRESS, "10.0.0.6"));
    Log_Capture log;
    EXPECT_FALSE(Network::set_Config_Apply());
    EXPECT_NE(std::string::npos, log.text().find("static settings need a subnet mask")) << log.text();
    EXPECT_EQ("auto eth0\niface eth0 inet dhcp\n", read_File(stanza_file));
    EXPECT_TRUE(get_Command_Calls().empty());
    EXPECT_EQ(0, Network::set_Config(Type::SUBNETMASK, "255.255.255.0"));
    EXPECT_TRUE(Network::set_Config_Apply());
    EXPECT_EQ("auto eth0\niface eth0 inet static\n    address 10.0.0.6\n    netmask 255.255.255.0\n",
              read_File(stanza_file));
    EXPECT_EQ(0, Network::set_Config(Type::GATEWAY, "10.0.0.1"));
    EXPECT_TRUE(Network::set_Config_Apply());
    EXPECT_EQ("auto eth0\niface eth0 inet static\n    address 10.0.0.6\n    netmask 255.255.255.0\n"
              "    gateway 10.0.0.1\n",
              read_File(stanza_file));
}

TEST_F(Settings, IfupdownWritesAtTheApply)
{
    write_File(stanza_file,
               "iface eth0 inet static\n    hwaddress ether 02:00:00:00:00:01\n    #address 10.0.0.5\n"
               "    netmask 255.255.0.0\n");
    select("");
    std::string before = read_File(stanza_file);
    EXPECT_EQ(0, Network::set_Config(Type::IP_ADDRESS, "10.0.0.6"));
    EXPECT_EQ(0, Network::set_Config(Type::GATEWAY, "10.0.0.1"));
    EXPECT_EQ(0, Network::set_Config(Type::DNS1, "9.9.9.9"));
    EXPECT_EQ(before, read_File(stanza_file));
    EXPECT_TRUE(Network::set_Config_Apply());
    EXPECT_EQ("iface eth0 inet static\n    hwaddress ether 02:00:00:00:00:01\n    address 10.0.0.6\n"
              "    netmask 255.255.0.0\n    gateway 10.0.0.1\n    dns-nameservers 9.9.9.9\n",
              read_File(stanza_file));
    EXPECT_EQ("hwaddress: 02:00:00:00:00:01\naddress: 10.0.0.6\nnetmask: 255.255.0.0\ngateway: 10.0.0.1\n"
              "dns-nameservers: 9.9.9.9\nbroadcast: 10.0.255.255\n",
              get_Ifquery_Options(stanza_file));
    const std::vector<std::string> restart = {"systemctl stop networking.service",
                                              "systemctl start networking.service"};
    EXPECT_EQ(restart, get_Command_Calls());
}

struct NmRead {
    const char* name;
    std::vector<std::string> answers;  // ipv4.method, ipv4.addresses, ipv4.gateway, ipv4.dns
    std::vector<std::string> expected; // MODE, IP, GATEWAY, MASK, DNS1, DNS2
};

class NetworkManagerRead : public Settings, public ::testing::WithParamInterface<NmRead> {};

TEST_P(NetworkManagerRead, EachAnswerForm)
{
    select("nm");
    const char* fields[] = {"ipv4.method", "ipv4.addresses", "ipv4.gateway", "ipv4.dns"};
    for (size_t i = 0; i < 4; ++i)
        if (!GetParam().answers[i].empty())
            set_Tool_Answer("nmcli", std::string("-t -f ") + fields[i] + " con show uuid " + profile_uuid,
                            GetParam().answers[i]);
    for (uint8_t t = 0; t < 6; ++t) {
        uint8_t rc = 9;
        EXPECT_EQ(GetParam().expected[t], read_Setting(static_cast<Type>(t), &rc)) << "type " << int(t);
        EXPECT_EQ(0, rc) << "type " << int(t);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, NetworkManagerRead,
    ::testing::Values(
        NmRead{"static_two_dns",
               {"ipv4.method:manual\n", "ipv4.addresses:192.168.1.10/24\n", "ipv4.gateway:192.168.1.1\n",
                "ipv4.dns:9.9.9.9,1.0.0.1\n"},
               {"1", "192.168.1.10", "192.168.1.1", "255.255.255.0", "9.9.9.9", "1.0.0.1"}},
        NmRead{"auto_one_dns",
               {"ipv4.method:auto\n", "ipv4.addresses:\n", "ipv4.gateway:\n", "ipv4.dns:8.8.8.8\n"},
               {"0", "192.168.9.9", "192.168.9.1", "255.255.0.0", "8.8.8.8", ""}},
        NmRead{"no_dns",
               {"ipv4.method:auto\n", "", "", "ipv4.dns:\n"},
               {"0", "192.168.9.9", "", "255.255.0.0", "", ""}},
        NmRead{"prefix_zero",
               {"", "ipv4.addresses:10.0.0.5/0\n", "", ""},
               {"1", "10.0.0.5", "", "0.0.0.0", "", ""}},
        NmRead{"prefix_32",
               {"", "ipv4.addresses:10.0.0.5/32\n", "", ""},
               {"1", "10.0.0.5", "", "255.255.255.255", "", ""}},
        NmRead{"empty_capture", {"", "", "", ""}, {"1", "192.168.9.9", "", "255.255.0.0", "", ""}}),
    [](const ::testing::TestParamInfo<NmRead>& info) { return std::string(info.param.name); });

TEST_F(Settings, NetworkManagerSelectionWithoutDnsLeavesThemEmpty)
{
    set_Tool_Answer("nmcli", "-t -f ipv4.method con show uuid " + profile_uuid, "ipv4.method:manual\n");
    set_Tool_Answer("nmcli", "-t -f ipv4.addresses con show uuid " + profile_uuid,
                    "ipv4.addresses:10.0.0.5/32\n");
    set_Tool_Answer("nmcli", "-t -f ipv4.dns con show uuid " + profile_uuid, "ipv4.dns:\n");
    select("nm");
    EXPECT_FALSE(Access::staged().ip4_dhcp);
    EXPECT_EQ("10.0.0.5", Access::staged().ip4_address);
    EXPECT_EQ("255.255.255.255", Access::staged().ip4_subnetmask);
    EXPECT_EQ("", Access::staged().dns1);
    EXPECT_EQ("", Access::staged().dns2);
}

TEST_F(Settings, NetplanHostThroughTheHandler)
{
    select("netplan");
    send_Static_Sequence("node-7");
    EXPECT_EQ((std::vector<std::string>{"netplan apply", "hostnamectl set-hostname node-7"}),
              get_Command_Calls());
    EXPECT_EQ(
        "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n      addresses:\n        - 192.168.1.10/24\n"
        "      routes:\n        - to: default\n          via: 192.168.1.1\n      nameservers:\n"
        "        addresses:\n          - 9.9.9.9\n          - 1.0.0.1\n",
        read_File(netplan_file));
    clear_Tool_Calls();
    send_Dhcp_Sequence();
    EXPECT_EQ(std::vector<std::string>{"netplan apply"}, get_Command_Calls());
    EXPECT_EQ("network:\n  ethernets:\n    eth0:\n      dhcp4: true\n      nameservers:\n        addresses:\n"
              "          - 9.9.9.9\n          - 1.0.0.1\n",
              read_File(netplan_file));
}

TEST_F(Settings, IfupdownHostThroughTheHandler)
{
    write_File(stanza_file, "auto eth0\niface eth0 inet dhcp\n    hwaddress ether 02:00:00:00:00:01\n");
    select("");
    send_Static_Sequence("node-8");
    EXPECT_EQ(
        (std::vector<std::string>{"systemctl stop networking.service", "systemctl start networking.service",
                                  "hostnamectl set-hostname node-8"}),
        get_Command_Calls());
    EXPECT_EQ(
        "auto eth0\niface eth0 inet static\n    hwaddress ether 02:00:00:00:00:01\n    address 192.168.1.10\n"
        "    netmask 255.255.255.0\n    gateway 192.168.1.1\n    dns-nameservers 9.9.9.9 1.0.0.1\n",
        read_File(stanza_file));
    EXPECT_EQ(
        "hwaddress: 02:00:00:00:00:01\naddress: 192.168.1.10\nnetmask: 255.255.255.0\ngateway: 192.168.1.1\n"
        "dns-nameservers: 9.9.9.9 1.0.0.1\nbroadcast: 192.168.1.255\n",
        get_Ifquery_Options(stanza_file));
    clear_Tool_Calls();
    send_Dhcp_Sequence();
    const std::vector<std::string> restart = {"systemctl stop networking.service",
                                              "systemctl start networking.service"};
    EXPECT_EQ(restart, get_Command_Calls());
    EXPECT_EQ(
        "auto eth0\niface eth0 inet dhcp\n    hwaddress ether 02:00:00:00:00:01\n    #address 192.168.1.10\n"
        "    #netmask 255.255.255.0\n    #gateway 192.168.1.1\n    dns-nameservers 9.9.9.9 1.0.0.1\n",
        read_File(stanza_file));
    EXPECT_EQ("hwaddress: 02:00:00:00:00:01\ndns-nameservers: 9.9.9.9 1.0.0.1\n",
              get_Ifquery_Options(stanza_file));
}

TEST_F(Settings, NetworkManagerHostThroughTheHandler)
{
    select("nm");
    send_Static_Sequence("node-9");
    std::vector<std::string> calls = get_Command_Calls();
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ("nmcli con mod uuid " + profile_uuid +
                  " ipv4.method manual ipv4.addresses 192.168.1.10/24 ipv4.gateway 192.168.1.1 "
                  "ipv4.dns 9.9.9.9,1.0.0.1",
              calls[0]);
    EXPECT_EQ("nmcli device reapply eth0", calls[1]);
    EXPECT_EQ("hostnamectl set-hostname node-9", calls[2]);
    std::string profile = nmcli_Offline_Modify(calls[0]);
    EXPECT_NE(std::string::npos, profile.find("method=manual\n")) << profile;
    EXPECT_NE(std::string::npos, profile.find("address1=192.168.1.10/24,192.168.1.1\n")) << profile;
    EXPECT_NE(std::string::npos, profile.find("dns=9.9.9.9;1.0.0.1;\n")) << profile;

    // The DHCP change writes what it gives; the rest is what NetworkManager now holds.
    set_Tool_Answer("nmcli", "-t -f ipv4.dns con show uuid " + profile_uuid, "ipv4.dns:9.9.9.9,1.0.0.1\n");
    clear_Tool_Calls();
    send_Dhcp_Sequence();
    calls = get_Command_Calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("nmcli con mod uuid " + profile_uuid +
                  " ipv4.method auto ipv4.addresses  ipv4.gateway  ipv4.dns 9.9.9.9,1.0.0.1",
              calls[0]);
    EXPECT_EQ("nmcli device reapply eth0", calls[1]);
    profile = nmcli_Offline_Modify(calls[0]);
    EXPECT_NE(std::string::npos, profile.find("method=auto\n")) << profile;
}

TEST_F(Settings, HandlerDebugLines)
{
    select("netplan");
    Log_Capture log;
    set_Debug_Log(true);
    send_Byte(BMC::SUBADDRESS_NETWORK_CONFIG_MODE, 1);
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS, "192.168.1.10");
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_GATEWAY, "192.168.1.1");
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_SUBNETMASK, "255.255.255.0");
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_DNS1, "9.9.9.9");
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_DNS2, "");
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_MACADDRESS, "02:00:00:00:00:01");
    send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_RESET, "now");
    BMC::Packet empty;
    BMC::init_Packet(&empty, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::NETWORK,
                     BMC::SUBADDRESS_NETWORK_CONFIG_APPLY, BMC::DATA_TYPE::UINT8, nullptr, 0);
    I2C_BMC_Packet_Hander(&empty);
    set_Debug_Log(false);
    const char* p = "\033[32m[DEBUG]\t[I2C Packet] I2C_BMC_Packet_Hander: ";
    EXPECT_EQ(std::string(p) + "MODE=1 \033[0m\n" + p + "IP_ADDRESS=192.168.1.10 \033[0m\n" + p +
                  "GATEWAY=192.168.1.1 \033[0m\n" + p + "SUBNETMASK=255.255.255.0 \033[0m\n" + p +
                  "DNS1=9.9.9.9 \033[0m\n" + p + "DNS2= \033[0m\n" + p +
                  "default=02:00:00:00:00:01 \033[0m\n" + p + "default=now \033[0m\n" + p +
                  "subaddress 6 without data ignored \033[0m\n",
              log.text());
    // Nothing was applied: the data-less APPLY called nothing.
    EXPECT_TRUE(get_Command_Calls().empty());
    EXPECT_FALSE(Access::staged().ip4_dhcp);
    EXPECT_EQ("192.168.1.10", Access::staged().ip4_address);
}

// Only the BMC's settings writes reach a setting: any other header is refused in one ERROR line.
TEST_F(Settings, HostileHeadersChangeNothing)
{
    select("netplan");
    using T = BMC::PACKET_TYPE;
    using D = BMC::DATA_TYPE;
    const struct {
        BMC::NODE_ID node;
        bool broadcast;
        T type;
        BMC::ADDRESS address;
        uint8_t subaddress;
        D data_type;
        const char* fault;
    } rows[] = {
        {BMC::NODE_ID::BMC, false, T::ERROR, BMC::ADDRESS::DESCRIPTION, 7, D::STRING,
         "packet type 0, not WRITE"},
        {BMC::NODE_ID::BMC, false, T::READ_RESPONSE, BMC::ADDRESS::POWER, 1, D::STRING,
         "packet type 4, not WRITE"},
        {BMC::NODE_ID::PEC_3, false, T::WRITE, BMC::ADDRESS::NETWORK, 1, D::STRING, "node 3, not BMC"},
        {BMC::NODE_ID::BMC, true, T::WRITE, BMC::ADDRESS::NETWORK, 7, D::STRING, "a broadcast"},
        {BMC::NODE_ID::BMC, false, T::WRITE, BMC::ADDRESS::DESCRIPTION, 1, D::STRING,
         "address 0, not NETWORK"},
        {BMC::NODE_ID::BMC, false, T::WRITE, BMC::ADDRESS::NETWORK, 1, D::UINT8, "data type 0, not STRING"},
        {BMC::NODE_ID::BMC, false, T::WRITE, BMC::ADDRESS::NETWORK, 0, D::STRING, "data type 10, not UINT8"},
    };
    const std::string value = "10.9.8.7";
    const std::string staged = Access::staged().ip4_address;
    for (const auto& row : rows) {
        BMC::Packet packet;
        BMC::init_Packet(&packet, row.node, row.broadcast, row.type, false, row.address, row.subaddress,
                         row.data_type, value.c_str(), static_cast<uint8_t>(value.size() + 1));
        Log_Capture log;
        EXPECT_EQ(2, I2C_BMC_Packet_Hander(&packet)) << row.fault;
        EXPECT_EQ("\033[31m[ERROR]\t[I2C Packet] I2C_BMC_Packet_Hander: refused a packet for subaddress " +
                      std::to_string(row.subaddress) + ": " + row.fault + "\033[0m\n",
                  log.text());
    }
    EXPECT_EQ(staged, Access::staged().ip4_address);
    EXPECT_TRUE(get_Command_Calls().empty());
}

TEST_F(Settings, TextWithoutNulEndsAtTheDataEnd)
{
    select("netplan");
    BMC::Packet packet;
    BMC::init_Packet(&packet, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::NETWORK,
                     BMC::SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS, BMC::DATA_TYPE::UINT8, nullptr, 0);
    ASSERT_EQ(0, BMC::set_Packet_String(&packet, "10.20.30.40"));
    I2C_BMC_Packet_Hander(&packet);
    EXPECT_EQ("10.20.30.40", Access::staged().ip4_address);
}

// Values that could break out of a stanza line, a YAML scalar or a command
// line are refused: every file and the command log stay as they were.
TEST_F(Settings, InjectionAttemptsChangeNothing)
{
    std::string marker = get_Sandbox_Dir() + "/injected";
    const std::vector<std::string> values = {
        "10.0.0.5\npre-up touch " + marker,
        "1.2.3.4'; touch " + marker + "; '",
        "1.2.3.4 $(touch " + marker + ")",
        "1.2.3.4\n",
    };
    for (const char* manager : {"netplan", "ifupdown", "nm"}) {
        for (const std::string& f : {netplan_file, stanza_file, keyfile})
            fs::remove(f);
        select(manager);
        Network::Config before = Access::staged();
        std::string files_before = read_File(netplan_file) + read_File(stanza_file) + read_File(keyfile);
        Log_Capture log;
        for (const std::string& value : values) {
            for (Type type : {Type::IP_ADDRESS, Type::GATEWAY, Type::SUBNETMASK, Type::DNS1, Type::DNS2})
                EXPECT_EQ(1, Network::set_Config(type, value.c_str())) << manager;
            send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS, value);
        }
        send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_HOSTNAME, "node;touch " + marker);
        send_Text(BMC::SUBADDRESS_NETWORK_CONFIG_HOSTNAME, "$(touch " + marker + ")");
        std::string lines = log.text();
        EXPECT_EQ(files_before, read_File(netplan_file) + read_File(stanza_file) + read_File(keyfile))
            << manager;
        EXPECT_TRUE(get_Command_Calls().empty()) << manager;
        EXPECT_FALSE(fs::exists(marker)) << manager;
        EXPECT_EQ(before.ip4_address, Access::staged().ip4_address) << manager;
        EXPECT_EQ(before.ip4_gateway, Access::staged().ip4_gateway) << manager;
        EXPECT_EQ(before.dns1, Access::staged().dns1) << manager;
        EXPECT_NE(std::string::npos,
                  lines.find("[Network] set_Config: refused IP_ADDRESS: not a plain IPv4 value"));
        EXPECT_NE(std::string::npos, lines.find("[Config] set_Config_Hostname: refused hostname"));
    }
}

TEST_F(Settings, RefusedMaskAndUnknownSetting)
{
    select("netplan");
    EXPECT_EQ(1, Network::set_Config(Type::SUBNETMASK, "255.0.255.0"));
    EXPECT_EQ(1, Network::set_Config(static_cast<Type>(6), "1.2.3.4"));
    char buffer[16];
    EXPECT_EQ(1, Network::get_Config(static_cast<Type>(6), buffer, sizeof(buffer)));
    EXPECT_EQ(0, Network::set_Config(Type::SUBNETMASK, "255.255.252.0"));
    EXPECT_EQ(0, Network::set_Config(Type::DNS2, ""));
    EXPECT_EQ("255.255.252.0", Access::staged().ip4_subnetmask);
}

TEST_F(Settings, NoManagerMeansNothingToApply)
{
    // A read-only /etc/netplan on a bare host: no default file, no manager.
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n");
    ASSERT_EQ(0,
              run_Shell("mount --bind /etc/netplan /etc/netplan && mount -o remount,bind,ro /etc/netplan"));
    // Staging writes nothing; the apply, whose first step is the default file, cannot write it.
    EXPECT_EQ(0, Network::set_Config(Type::IP_ADDRESS, "1.2.3.4"));
    Log_Capture log;
    EXPECT_FALSE(Network::set_Config_Apply());
    EXPECT_NE(std::string::npos, log.text().find("cannot replace /etc/netplan/01-netcfg.yaml")) << log.text();
    char buffer[16];
    EXPECT_EQ(1, Network::get_Config(Type::IP_ADDRESS, buffer, sizeof(buffer)));
    run_Shell("umount /etc/netplan");
}

} // namespace
