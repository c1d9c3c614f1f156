// The netplan owner lookup over the repo's host layouts: libnetplan's own
// matching and merging, then the one file an edit may go to, or why none may.
#include <gtest/gtest.h>

#include <string>

#include "network.h"

namespace {

const std::string layouts = std::string(LUMERION_SOURCE_DIR) + "/tests/fixtures/layouts/";

struct Layout {
    const char* name;
    const char* id;       // the definition that applies to eth0
    const char* file;     // where an edit goes
    const char* refusal;  // the start of the reason an edit is refused; "" when it may go ahead
    const char* leftover; // the daemon's old default, to be removed
};

class OwnerLookup : public ::testing::TestWithParam<Layout> {};

TEST_P(OwnerLookup, FindsTheFileNetplanDefinesEth0In)
{
    const Layout& row = GetParam();
    std::string root = layouts + row.name;
    std::string error;
    std::vector<Netplan_File> files = get_netplan_Files(root, &error);
    ASSERT_EQ("", error);
    Netplan_Reading reading = get_netplan_Reading(files, {"eth0", "52:54:00:12:34:56", ""});
    ASSERT_TRUE(reading.accepted) << reading.error;
    Netplan_Owner owner =
        get_netplan_Owner(files, reading.applying_ids, "eth0", get_Cloud_Init_Renders(root));
    EXPECT_EQ(row.id, owner.id);
    EXPECT_EQ(row.file, owner.file);
    EXPECT_EQ(0u, owner.refusal.find(row.refusal)) << owner.refusal;
    EXPECT_EQ(std::string(row.refusal).empty(), owner.refusal.empty()) << owner.refusal;
    EXPECT_EQ(row.leftover, owner.leftover);
}

// The daemon's reading, made by the reader process, is the reading made here.
TEST_P(OwnerLookup, TheReaderProcessReadsTheSame)
{
    std::string error;
    std::vector<Netplan_File> files = get_netplan_Files(layouts + GetParam().name, &error);
    ASSERT_EQ("", error);
    Interface_Facts facts{"eth0", "52:54:00:12:34:56", "virtio_net"};
    Netplan_Reading here = get_netplan_Reading(files, facts);
    set_netplan_Reader_Program(LUMERION_NETPLAN_READER_PATH);
    Netplan_Reading there = get_netplan_Reading(files, facts);
    set_netplan_Reader_Program("");
    EXPECT_EQ(here.installed, there.installed);
    EXPECT_EQ(here.accepted, there.accepted);
    EXPECT_EQ(here.error, there.error);
    EXPECT_EQ(here.merged, there.merged);
    EXPECT_EQ(here.applying_ids, there.applying_ids);
}

const char* const cloud_file = "/etc/netplan/50-cloud-init.yaml";
const char* const installer_file = "/etc/netplan/00-installer-config.yaml";

INSTANTIATE_TEST_SUITE_P(
    Layouts, OwnerLookup,
    ::testing::Values(
        Layout{"cloud_init_on", "eth0", cloud_file,
               "/etc/netplan/50-cloud-init.yaml is rewritten by cloud-init at boot: to hand eth0 over, write "
               "\"network: {config: disabled}\" to /etc/cloud/cloud.cfg.d/99-disable-network-config.cfg",
               ""},
        Layout{"cloud_init_off", "eth0", cloud_file, "", ""},
        Layout{"cloud_mac_set_name", "ens3", cloud_file, "", ""},
        Layout{"installer", "eth0", installer_file, "", ""},
        Layout{"leftover", "eth0", cloud_file, "", "/etc/netplan/01-netcfg.yaml"},
        Layout{"second_address", "eth0", installer_file, "", ""}, Layout{"no_eth0", "", "", "", ""},
        Layout{"bare", "", "", "", ""},
        Layout{"spread", "eth0", installer_file,
               "eth0's IPv4 settings are spread over several files (eth0 in "
               "/etc/netplan/00-installer-config.yaml, "
               "eth0 in /etc/netplan/60-dns.yaml)",
               ""},
        Layout{"runtime", "eth0", "/run/netplan/00-installer-config.yaml",
               "/run/netplan/00-installer-config.yaml lives under /run and is lost at reboot", ""},
        Layout{"vendor", "eth0", "/lib/netplan/90-vendor.yaml",
               "/lib/netplan/90-vendor.yaml is the vendor's and read-only: to hand eth0 over, copy it to "
               "/etc/netplan/90-vendor.yaml",
               ""}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

// Two definitions netplan applies to eth0 at once (a glob and an id): no edit
// can say which one the host uses.
TEST(OwnerLookup, TwoDefinitionsOfEth0AreRefused)
{
    std::vector<Netplan_File> files = {
        {"/etc/netplan/10-any.yaml",
         "network:\n  ethernets:\n    wired:\n      match: {name: \"e*\"}\n      dhcp4: true\n"},
        {"/etc/netplan/20-eth0.yaml", "network:\n  ethernets:\n    eth0:\n      addresses: [10.0.0.5/24]\n"}};
    Netplan_Reading reading = get_netplan_Reading(files, {"eth0", "", ""});
    ASSERT_TRUE(reading.accepted) << reading.error;
    Netplan_Owner owner = get_netplan_Owner(files, reading.applying_ids, "eth0", false);
    EXPECT_EQ(0u, owner.refusal.find("several netplan definitions apply to eth0")) << owner.refusal;
}

// A definition whose match binds it to no single interface is not eth0's own: each row a kind of match,
// judged against the host's interfaces (eth0, eth1 on virtio_net, enp1s0 on e1000).
TEST(SharedDefinition, OnlyAMatchBoundToOneInterfaceMayBeEdited)
{
    const std::vector<Interface_Facts> host = {{"eth0", "52:54:00:12:34:56", "virtio_net"},
                                               {"eth1", "52:54:00:12:34:57", "virtio_net"},
                                               {"enp1s0", "52:54:00:12:34:58", "e1000"}};
    const struct {
        const char* match;
        const char* refusal; // the start of the reason; "" when eth0 may be edited
    } rows[] = {
        {"{name: eth0}", ""},
        {"{macaddress: \"52:54:00:12:34:56\", name: \"e*\"}", ""},
        {"{name: \"eth*\"}",
         "all in /etc/netplan/50-all.yaml matches by name eth*, which takes eth0, eth1 now"},
        {"{driver: virtio_net}",
         "all in /etc/netplan/50-all.yaml matches by driver virtio_net, which takes eth0, eth1"},
        {"{name: \"e*\", driver: [e1000, virtio*]}", "all in /etc/netplan/50-all.yaml matches by name e* and "
                                                     "driver (a list), which takes eth0, eth1, enp1s0 now"},
    };
    for (const auto& row : rows) {
        const std::string merged = std::string("network:\n  ethernets:\n    all:\n      match: ") +
                                   row.match + "\n      dhcp4: true\n";
        const std::string refusal =
            get_netplan_Shared_Refusal(merged, "all", "/etc/netplan/50-all.yaml", [&host] { return host; });
        EXPECT_EQ(0u, refusal.find(row.refusal)) << row.match << ": " << refusal;
        EXPECT_EQ(std::string(row.refusal).empty(), refusal.empty()) << row.match << ": " << refusal;
    }
}

TEST(CloudInit, LaterConfigurationDecidesTheRendering)
{
    EXPECT_EQ(1, get_Cloud_Network_Disabled("network: {config: disabled}\n"));
    EXPECT_EQ(0, get_Cloud_Network_Disabled("network:\n  version: 2\n  config: {}\n"));
    EXPECT_EQ(-1, get_Cloud_Network_Disabled("datasource_list: [None]\n"));
    EXPECT_EQ(-1, get_Cloud_Network_Disabled("network: [\n"));
}

// What NetworkManager gets from a 90-NM- definition: its passthrough block over netplan's keys.
TEST(Passthrough, TheBlockSetsWhatNetworkManagerGets)
{
    using Type = Network::CONFIG_TYPE;
    auto document = [](const std::string& block) {
        return "network:\n  ethernets:\n    NM-1:\n      match: {name: eth0}\n      addresses: "
               "[10.0.0.5/24]\n"
               "      networkmanager:\n        uuid: \"1\"\n" +
               (block.empty() ? "" : "        passthrough:\n" + block);
    };
    const struct {
        const char* name;
        std::string block;
        Type type;
        const char* value; // nullptr: the block does not set it
    } rows[] = {
        {"method_auto", "          ipv4.method: auto\n", Type::MODE, "0"},
        {"method_manual", "          ipv4.method: manual\n", Type::MODE, "1"},
        {"lowest_address",
         "          ipv4.address2: 10.0.0.9/16\n          ipv4.address1: 10.0.0.7/24,10.0.0.1\n",
         Type::IP_ADDRESS, "10.0.0.7"},
        {"mask_of_the_address", "          ipv4.address1: 10.0.0.7/20\n", Type::SUBNETMASK, "255.255.240.0"},
        {"gateway_of_the_address", "          ipv4.address1: 10.0.0.7/24,10.0.0.1\n", Type::GATEWAY,
         "10.0.0.1"},
        {"gateway_key_first",
         "          ipv4.address1: 10.0.0.7/24,10.0.0.1\n          ipv4.gateway: 10.0.0.254\n", Type::GATEWAY,
         "10.0.0.254"},
        {"address_without_gateway", "          ipv4.address1: 10.0.0.7/24\n", Type::GATEWAY, nullptr},
        {"dns_ipv4_only", "          ipv4.dns: \"fd00::53;10.0.0.2;10.0.0.3;\"\n", Type::DNS2, "10.0.0.3"},
        {"other_keys_only", "          ipv6.addr-gen-mode: default\n", Type::MODE, nullptr},
        {"no_block", "", Type::IP_ADDRESS, nullptr},
    };
    for (const auto& row : rows) {
        std::string value;
        bool set = get_netplan_Passthrough_Setting(document(row.block), "NM-1", row.type, &value);
        EXPECT_EQ(row.value != nullptr, set) << row.name;
        if (row.value != nullptr) {
            EXPECT_EQ(row.value, value) << row.name;
        }
    }
}

} // namespace

namespace {

// A reader that fails is a reading netplan did not accept, with the reason: nothing is taken from it.
struct Reader_Fault {
    const char* name;
    const char* program;
    const char* error; // the reading's error after "netplan's reader PROGRAM "
};

class ReaderFault : public ::testing::TestWithParam<Reader_Fault> {};

TEST_P(ReaderFault, GivesNoReading)
{
    const Reader_Fault& row = GetParam();
    set_netplan_Reader_Program(row.program);
    Netplan_Reading reading = get_netplan_Reading(
        {{"/etc/netplan/01.yaml", "network: {ethernets: {eth0: {dhcp4: true}}}\n"}}, {"eth0", "", ""});
    set_netplan_Reader_Program("");
    EXPECT_TRUE(reading.installed);
    EXPECT_FALSE(reading.accepted);
    EXPECT_TRUE(reading.applying_ids.empty());
    EXPECT_EQ(std::string("netplan's reader ") + row.program + " " + row.error, reading.error);
}

INSTANTIATE_TEST_SUITE_P(Readers, ReaderFault,
                         ::testing::Values(Reader_Fault{"missing", "/nonexistent/reader",
                                                        "cannot be run: No such file or directory"},
                                           Reader_Fault{"fails", "/bin/false", "ended with status 1"},
                                           // The request echoed back is no reading.
                                           Reader_Fault{"echoes", "/bin/cat", "gave a damaged answer"}),
                         [](const ::testing::TestParamInfo<Reader_Fault>& info) {
                             return std::string(info.param.name);
                         });

// Request and reading cross as text: each comes back whole, and any damage is refused whole.
TEST(ReaderExchange, RoundTripsAndRefusesDamage)
{
    std::vector<Netplan_File> files = {{"/etc/netplan/a.yaml", "x\n12\n"}, {"/run/netplan/b.yaml", ""}};
    Interface_Facts facts{"eth0", "52:54:00:12:34:56", "e1000", "wlan"};
    std::vector<Netplan_File> files_back;
    Interface_Facts facts_back;
    std::string request = get_netplan_Request_Text(files, facts);
    ASSERT_TRUE(get_netplan_Request(request, &files_back, &facts_back));
    ASSERT_EQ(2u, files_back.size());
    EXPECT_EQ(files[0].text, files_back[0].text);
    EXPECT_EQ(files[1].path, files_back[1].path);
    EXPECT_EQ("e1000", facts_back.driver);
    EXPECT_EQ("wlan", facts_back.type);

    Netplan_Reading reading;
    reading.installed = reading.accepted = true;
    reading.merged = "network:\n  version: 2\n";
    reading.applying_ids = {"eth0", "wired"};
    Netplan_Reading back;
    std::string answer = get_netplan_Reading_Text(reading);
    ASSERT_TRUE(get_netplan_Reading_From(answer, &back));
    EXPECT_EQ(reading.merged, back.merged);
    EXPECT_EQ(reading.applying_ids, back.applying_ids);

    struct Damage {
        const char* name;
        std::string text;
    };
    for (const Damage& damage :
         std::vector<Damage>{{"cut short", answer.substr(0, answer.size() - 1)},
                             {"trailing bytes", answer + "x"},
                             {"length past the end", "26\nlumerion-netplan-reading 1999\n1"},
                             {"length not a number", "2x\nab"},
                             {"flag not 0 or 1", "26\nlumerion-netplan-reading 11\n2"},
                             {"a request for a reading", request},
                             {"empty", ""}}) {
        Netplan_Reading refused;
        EXPECT_FALSE(get_netplan_Reading_From(damage.text, &refused)) << damage.name;
    }
    EXPECT_FALSE(get_netplan_Request(answer, &files_back, &facts_back));
    EXPECT_FALSE(get_netplan_Request(request.substr(0, request.size() - 2), &files_back, &facts_back));
}

} // namespace
