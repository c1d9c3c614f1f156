// The trial record as stored and read back, and the judge of one look at eth0.
#include <gtest/gtest.h>

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <string.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "file_replace.h"
#include "gateway_check.h"
#include "settings_trial.h"

namespace {

Trial_Record get_Sample()
{
    Trial_Record record;
    record.manager = Manager_Type::NETWORK_MANAGER;
    record.interface_name = "eth0";
    record.profile_uuid = "3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01";
    record.profile_active = true;
    Trial_File keyfile;
    keyfile.path = "/etc/NetworkManager/system-connections/Wired connection 1.nmconnection";
    keyfile.existed = true;
    keyfile.mode = 0600;
    keyfile.uid = 0;
    keyfile.gid = 4;
    keyfile.bytes = std::string("[connection]\nid=Wired\n\0\xff\r", 25);
    keyfile.written_hash = get_Content_Hash(true, "[connection]\nid=Wired\n");
    Trial_File created;
    created.path = "/etc/netplan/90-new.yaml";
    record.files = {keyfile, created};
    record.old_address = "10.0.0.5/24";
    record.old_gateway = "10.0.0.1";
    record.old_gateway_answer = Gateway_Answer::ANSWERED;
    record.applied = true;
    record.new_address = "10.0.0.9";
    record.new_gateway = "10.0.0.99";
    record.boot_id = "0f6e1b2a-1111-4222-8333-944455556666";
    record.deadline_ns = 123456789012LL;
    record.window_seconds = 60;
    Trial_Mark written;
    written.state = Trial_Mark::STATE::DONE;
    written.action = "write /etc/netplan/90-new.yaml";
    Trial_Mark modify;
    modify.state = Trial_Mark::STATE::STARTED;
    modify.action =
        "run nmcli con mod uuid 3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01 ipv4.addresses '10.0.0.9/24'";
    Trial_Mark reapply;
    reapply.action = "run nmcli device reapply eth0";
    record.steps = {written, modify, reapply};
    record.keyfile_directory = "/etc/NetworkManager/system-connections";
    record.keyfiles_before = {"Wired connection 1.nmconnection", "other.nmconnection"};
    return record;
}

TEST(TrialRecord, EveryFieldSurvivesTheRoundTrip)
{
    const Trial_Record sample = get_Sample();
    Trial_Record back;
    std::string error;
    ASSERT_TRUE(get_Trial_Record(get_Trial_Text(sample), &back, &error)) << error;
    EXPECT_EQ(get_Trial_Text(sample), get_Trial_Text(back));
    ASSERT_EQ(2u, back.files.size());
    EXPECT_EQ(sample.files[0].bytes, back.files[0].bytes);
    EXPECT_EQ(sample.files[0].path, back.files[0].path);
    EXPECT_FALSE(back.files[1].existed);
    EXPECT_EQ(Manager_Type::NETWORK_MANAGER, back.manager);
    ASSERT_EQ(3u, back.steps.size());
    EXPECT_EQ(sample.keyfiles_before, back.keyfiles_before);
    EXPECT_EQ(sample.keyfile_directory, back.keyfile_directory);
    EXPECT_EQ(sample.steps[1].action, back.steps[1].action);
    EXPECT_EQ(Trial_Mark::STATE::STARTED, back.steps[1].state);
    EXPECT_EQ(Trial_Mark::STATE::PENDING, back.steps[2].state);
    EXPECT_EQ("f3079b18c51c56a4", back.files[0].written_hash);
    EXPECT_EQ("cbf29ce484222325", get_Content_Hash(true, ""));
    EXPECT_EQ("absent", get_Content_Hash(false, ""));
    // An undo cut short reads back as one: it is finished, never judged.
    Trial_Record undoing = sample;
    undoing.rolling_back = true;
    ASSERT_TRUE(get_Trial_Record(get_Trial_Text(undoing), &back, &error)) << error;
    EXPECT_TRUE(back.rolling_back && back.applied);
}

// A record as an earlier version wrote it.
std::string get_Fixture(const char* name)
{
    std::ifstream in(std::string(LUMERION_SOURCE_DIR) + "/tests/fixtures/trial/" + name);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string get_Version_1()
{
    return get_Fixture("version1");
}

// A record that was cut, edited or written by another version is refused whole.
TEST(TrialRecord, DamageIsRefusedWhole)
{
    const std::string good = get_Trial_Text(get_Sample());
    std::string many_files;
    for (size_t i = 0; i < max_trial_files - 1; ++i)
        many_files += "file 2f absent -\n";
    std::string many_steps;
    for (size_t i = 0; i < max_trial_steps - 2; ++i)
        many_steps += "step pending 72756e\n";
    auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    const struct {
        const char* name;
        std::string text;
        const char* error;
    } rows[] = {
        {"empty", "", "not a trial record"},
        {"cut short", good.substr(0, good.find("end\n")), "no end line"},
        {"other version", replaced("version 3", "version 4"), "format version 4, not 1 to 3"},
        {"unknown manager", replaced("manager network_manager", "manager systemd"), "unknown manager"},
        {"odd hex", replaced("absent", "0600 0 0 abc"), "malformed file line"},
        {"relative path", replaced("file 2f", "file 61"), "bad path"},
        {"mode out of range", replaced("0600 0 4", "17777 0 4"), "malformed file line"},
        {"key twice", replaced("window 60\n", "window 60\nwindow 60\n"), "\"window\" twice"},
        {"line missing", replaced("phase applying\n", ""), "no \"phase\" line"},
        {"a version 1 line", replaced("phase applying", "applied yes"), "malformed \"applied\" line"},
        {"bad hash", replaced("absent -", "absent 12345"), "a file line with a bad hash"},
        {"text after end", good + "file 2f absent\n", "text after its end"},
        {"shell in a value", replaced("before 10.0.0.5/24", "before $(reboot)"), "malformed \"before\" line"},
        {"unchecked before its version",
         get_Version_1().replace(get_Version_1().find("answered"), 8, "unchecked"),
         "\"unchecked\" in a version 1 record"},
        {"too many files", replaced("end\n", many_files + "end\n"), "more than 8 files"},
        {"too many steps", replaced("end\n", many_steps + "end\n"), "more than 32 steps"},
        {"unknown mark", replaced("step done", "step skipped"), "malformed \"step\" line"},
        {"a keyfile name with a slash", replaced("keyfiles ", "keyfiles 2f 2e2e2f78 "),
         "a keyfiles line with a bad name"},
        {"a relative keyfile directory", replaced("keyfiles 2f", "keyfiles 65"),
         "a keyfiles line with a bad directory"},
        {"a line break in an action", replaced("end\n", "step pending 72750a6e\nend\n"),
         "a step line with a bad action"},
        {"steps before their version",
         get_Fixture("version2").replace(get_Fixture("version2").find("end\n"), 4, "step done 72756e\nend\n"),
         "malformed \"step\" line"},
    };
    for (const auto& row : rows) {
        Trial_Record back;
        std::string error;
        EXPECT_FALSE(get_Trial_Record(row.text, &back, &error)) << row.name;
        EXPECT_NE(std::string::npos, error.find(row.error)) << row.name << ": " << error;
    }
}

// The record a version before this one left, as it wrote it, is read and finished after an upgrade.
TEST(TrialRecord, TheVersionBeforeIsStillRead)
{
    std::string text = get_Version_1();
    Trial_Record back;
    std::string error;
    ASSERT_TRUE(get_Trial_Record(text, &back, &error)) << error;
    EXPECT_EQ(Gateway_Answer::ANSWERED, back.old_gateway_answer);
    EXPECT_EQ("10.0.0.99", back.new_gateway);
    ASSERT_EQ(1u, back.files.size());
    EXPECT_EQ("/etc/netplan/00-installer-config.yaml", back.files[0].path);
    EXPECT_EQ(0, back.files[0].bytes.find("network:\n"));
    // Saved again (a reboot rebases it), it is this version's record.
    Trial_Record again;
    EXPECT_TRUE(get_Trial_Record(get_Trial_Text(back), &again, &error)) << error;
    // The version before this one: its rollback cut short, its file hashes and an unchecked gateway.
    ASSERT_TRUE(get_Trial_Record(get_Fixture("version2"), &back, &error)) << error;
    EXPECT_TRUE(back.rolling_back);
    EXPECT_EQ(Gateway_Answer::UNCHECKED, back.old_gateway_answer);
    ASSERT_EQ(1u, back.files.size());
    EXPECT_EQ("0123456789abcdef", back.files[0].written_hash);
    EXPECT_TRUE(back.steps.empty());
}

// The largest change a trial accepts is still readable once stored: every file at its size limit, hex-coded.
TEST(TrialRecord, TheLargestChangeFitsTheReadersLimit)
{
    Trial_Record record = get_Sample();
    record.old_gateway_answer = Gateway_Answer::UNCHECKED;
    record.files.clear();
    for (size_t i = 0; i < max_trial_files; ++i) {
        Trial_File file;
        file.path = "/" + std::string(4095, static_cast<char>('a' + i));
        file.existed = true;
        file.mode = 07777;
        file.uid = file.gid = 4294967295U;
        file.bytes = std::string(max_config_file_size, '\xff');
        record.files.push_back(file);
    }
    std::string text = get_Trial_Text(record);
    EXPECT_LE(text.size(), max_trial_text_size);
    Trial_Record back;
    std::string error;
    ASSERT_TRUE(get_Trial_Record(text, &back, &error)) << error;
    EXPECT_EQ(Gateway_Answer::UNCHECKED, back.old_gateway_answer);
    EXPECT_EQ(max_trial_files, back.files.size());
}

// A step as one line: its kind, the gateway it probes from which address, and the failure it would give.
std::string get_Step_Text(const Trial_Step& step)
{
    const char* kinds[] = {"WAIT", "PROBE", "KEEP"};
    return std::string(kinds[static_cast<int>(step.kind)]) + " " + step.gateway + " from " + step.source +
           ": " + step.failure + (step.kept.empty() ? "" : "| " + step.kept);
}

// One look at eth0: what the trial waits for, probes, or keeps.
TEST(TrialStep, WhatALookAtTheInterfaceGives)
{
    Trial_Record dhcp = get_Sample();
    dhcp.new_dhcp = true;
    Trial_Record no_gateway = get_Sample();
    no_gateway.new_gateway = "";
    const Interface_Address old = {"10.0.0.5/24", false};
    const struct {
        const char* name;
        const Trial_Record record;
        std::vector<Interface_Address> addresses;
        const char* live_gateway;
        const char* step;
    } rows[] = {
        {"not held", get_Sample(), {old}, "10.0.0.1", "WAIT  from : eth0 did not hold 10.0.0.9"},
        {"held",
         get_Sample(),
         {old, {"10.0.0.9/24", false}},
         "10.0.0.1",
         "PROBE 10.0.0.99 from 10.0.0.9: gateway 10.0.0.99 did not answer"},
        {"lookalike", get_Sample(), {{"10.0.0.90/24", false}}, "", "WAIT  from : eth0 did not hold 10.0.0.9"},
        {"no gateway", no_gateway, {{"10.0.0.9/24", false}}, "10.0.0.1", "KEEP  from 10.0.0.9: "},
        {"no lease", dhcp, {}, "", "WAIT  from : eth0 got no DHCP lease"},
        {"static left", dhcp, {old}, "10.0.0.1", "WAIT  from : eth0 got no DHCP lease"},
        // The lease's route may come after its address: only the window's end keeps a lease without one.
        {"lease before its route",
         dhcp,
         {{"192.168.5.20/24", true}},
         "",
         "WAIT  from 192.168.5.20: | eth0 holds the lease 192.168.5.20/24, which offers no router: the "
         "change is "
         "kept"},
        {"leased",
         dhcp,
         {old, {"192.168.5.20/24", true}},
         "192.168.5.1",
         "PROBE 192.168.5.1 from 192.168.5.20: gateway 192.168.5.1 did not answer"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.step, get_Step_Text(get_Trial_Step(row.record, row.addresses, row.live_gateway)))
            << row.name;
}

// One route-socket message as the kernel sends it: the header, the fixed part, then attributes of 4 bytes.
template <typename Body>
std::string get_Netlink_Message(uint16_t type, const Body& body,
                                const std::vector<std::pair<uint16_t, const void*>>& attributes)
{
    std::string attrs;
    for (const auto& attribute : attributes) {
        struct rtattr attr = {static_cast<unsigned short>(RTA_LENGTH(4)), attribute.first};
        attrs.append(reinterpret_cast<const char*>(&attr), sizeof(attr));
        attrs.append(static_cast<const char*>(attribute.second), 4);
    }
    struct nlmsghdr header = {};
    header.nlmsg_type = type;
    header.nlmsg_len = static_cast<uint32_t>(NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(body)) + attrs.size());
    std::string text(reinterpret_cast<const char*>(&header), sizeof(header));
    text.append(reinterpret_cast<const char*>(&body), sizeof(body));
    text.resize(NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(body)), '\0');
    return text + attrs;
}

std::string get_Address_Message(unsigned int index, const char (&address)[5], uint8_t prefix, uint32_t flags)
{
    struct ifaddrmsg message = {AF_INET, prefix, 0, 0, index};
    return get_Netlink_Message(RTM_NEWADDR, message, {{IFA_LOCAL, address}, {IFA_FLAGS, &flags}});
}

TEST(TrialStep, AddressesFromTheKernelsDump)
{
    std::string dump = get_Address_Message(3, "\x0a\x00\x00\x05", 24, IFA_F_PERMANENT) +
                       get_Address_Message(4, "\x0a\x09\x00\x01", 16, IFA_F_PERMANENT) +
                       get_Address_Message(3, "\xc0\xa8\x05\x14", 24, 0);
    std::vector<Interface_Address> held = get_Netlink_Addresses(dump, 3);
    ASSERT_EQ(2u, held.size());
    EXPECT_EQ("10.0.0.5/24", held[0].cidr);
    EXPECT_FALSE(held[0].leased);
    EXPECT_EQ("192.168.5.20/24", held[1].cidr);
    EXPECT_TRUE(held[1].leased);
    // A message cut short, or one claiming more than was read, ends the reading there.
    EXPECT_EQ(1u, get_Netlink_Addresses(dump.substr(0, dump.size() - 3), 3).size());
    std::string lying = dump;
    lying[0] = '\xff';
    EXPECT_TRUE(get_Netlink_Addresses(lying, 3).empty());
}

std::string get_Neighbour_Message(int index, const char (&address)[5], uint16_t state)
{
    struct ndmsg message = {};
    message.ndm_family = AF_INET;
    message.ndm_ifindex = index;
    message.ndm_state = state;
    return get_Netlink_Message(RTM_NEWNEIGH, message, {{NDA_DST, address}});
}

// A pinned entry for the gateway is never probed (a probe deletes the entry); a learned one is.
TEST(GatewayCheck, PinnedNeighbourEntriesAreNotProbed)
{
    const char gateway[5] = "\x0a\x00\x00\x01";
    uint32_t wanted = 0;
    memcpy(&wanted, gateway, 4);
    const struct {
        const char* name;
        std::string dump;
        const char* pin;
    } rows[] = {
        {"permanent", get_Neighbour_Message(3, gateway, NUD_PERMANENT), "permanent"},
        {"noarp", get_Neighbour_Message(3, gateway, NUD_NOARP), "noarp"},
        {"learned", get_Neighbour_Message(3, gateway, NUD_REACHABLE), ""},
        {"stale", get_Neighbour_Message(3, gateway, NUD_STALE), ""},
        {"pinned on another interface", get_Neighbour_Message(4, gateway, NUD_PERMANENT), ""},
        {"another address pinned", get_Neighbour_Message(3, "\x0a\x00\x00\x02", NUD_PERMANENT), ""},
        {"after others",
         get_Neighbour_Message(3, "\x0a\x00\x00\x02", NUD_REACHABLE) +
             get_Neighbour_Message(3, gateway, NUD_PERMANENT),
         "permanent"},
        {"cut short", get_Neighbour_Message(3, gateway, NUD_PERMANENT).substr(0, 30), ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.pin, get_Neighbour_Pin(get_Netlink_Neighbour_State(row.dump, 3, wanted))) << row.name;
    // Where the route socket has no neighbour messages (an emulator), /proc/net/arp tells a permanent entry.
    const std::string header =
        "IP address       HW type     Flags       HW address            Mask     Device\n";
    const struct {
        const char* name;
        std::string table;
        const char* pin;
    } tables[] = {
        {"permanent",
         header + "10.0.0.1         0x1         0x6         02:00:00:00:00:01     *        eth0\n",
         "permanent"},
        {"learned", header + "10.0.0.1         0x1         0x2         02:00:00:00:00:01     *        eth0\n",
         ""},
        {"pinned elsewhere",
         header + "10.0.0.1         0x1         0x6         02:00:00:00:00:01     *        eth1\n", ""},
        {"lookalike",
         header + "10.0.0.10        0x1         0x6         02:00:00:00:00:01     *        eth0\n", ""},
        {"header alone", header, ""},
    };
    for (const auto& row : tables)
        EXPECT_EQ(row.pin, get_Neighbour_Pin(get_Arp_Table_Neighbour_State(row.table, "eth0", wanted)))
            << row.name;
}

TEST(TrialStep, DefaultGatewayIsEth0sLowestMetric)
{
    const std::string table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t50\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t0200000A\t0003\t0\t0\t200\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t0000000A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
    EXPECT_EQ("10.0.0.1", get_Default_Gateway(table, "eth0"));
    EXPECT_EQ("", get_Default_Gateway(table, "eth1"));
}

} // namespace
