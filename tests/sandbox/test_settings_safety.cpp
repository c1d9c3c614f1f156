// Settings changes judged by the real parsers: every golden netplan output
// through netplan's generator, every golden stanza through the daemon's own
// read and write path and ifquery; and the applies that must be refused
// leave every file byte for byte and run no command.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "network.h"
#include "host_paths.h"
#include "network_access.h"
#include "parser_judges.h"
#include "sandbox.h"
#include "settings_tables.h"
#include "change_executor.h"
#include "change_steps.h"
#include "settings_trial.h"

namespace {

namespace fs = std::filesystem;
using Access = Network_Test_Access;
using Type = Network::CONFIG_TYPE;

// ifquery's reading of eth0's address options (its IPv6 defaults left out).
std::string get_Address_Options(const std::string& file)
{
    std::string options;
    std::string all = get_Ifquery_Options(file);
    for (size_t start = 0; start < all.size();) {
        size_t next = all.find('\n', start);
        next = next == std::string::npos ? all.size() : next + 1;
        std::string line = all.substr(start, next - start);
        for (const char* key : {"hwaddress:", "address:", "netmask:", "gateway:", "up:"})
            if (line.compare(0, strlen(key), key) == 0)
                options += line;
        start = next;
    }
    return options;
}

class Safety : public ::testing::Test {
protected:
    void SetUp() override
    {
        make_Manager_Directories();
        // Right after start-up: no default-route facts yet.
        Access::live() = Network::Config();
        set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n");
    }
};

TEST_F(Safety, EveryNetplanRowThroughTheDaemonIsAcceptedByNetplan)
{
    for (const Netplan_Row& row : get_Netplan_Rows()) {
        write_File(netplan_file, row.before);
        Access::staged() = row.staged;
        EXPECT_TRUE(Access::update_netplan()) << row.name;
        EXPECT_EQ(row.after, read_File(netplan_file)) << row.name;
        Netplan_Verdict verdict = get_Netplan_Verdict(read_File(netplan_file));
        EXPECT_EQ(0, verdict.rc) << row.name << ": " << verdict.err;
        EXPECT_EQ("", verdict.err) << row.name;
    }
}

TEST_F(Safety, EveryStanzaRowThroughTheDaemonIsReadByIfquery)
{
    for (const Stanza_Row& row : get_Stanza_Rows()) {
        write_File(stanza_file, row.before);
        Network::set_Interface_Name("eth0");
        const Type types[] = {Type::MODE, Type::IP_ADDRESS, Type::SUBNETMASK, Type::GATEWAY};
        for (size_t k = 0; k < 4; ++k)
            EXPECT_EQ(row.reads[k], read_Setting(types[k])) << row.name << " read " << k;
        for (const auto& write : row.writes)
            EXPECT_EQ(0, Network::set_Config(write.first, write.second.c_str())) << row.name;
        EXPECT_TRUE(Network::set_Config_Apply()) << row.name;
        EXPECT_EQ(row.after, read_File(stanza_file)) << row.name;
        EXPECT_EQ(row.parsed, get_Address_Options(stanza_file)) << row.name;
    }
}

// A write that changes nothing leaves the file itself alone.
TEST_F(Safety, StanzaWriteOfTheSameValueKeepsTheFile)
{
    write_File(stanza_file, "iface eth0 inet static\n    address 10.0.0.5\n");
    Network::set_Interface_Name("eth0");
    struct stat first;
    ASSERT_EQ(0, stat(stanza_file.c_str(), &first));
    EXPECT_EQ(0, Network::set_Config(Type::IP_ADDRESS, "10.0.0.5"));
    EXPECT_EQ(0, Network::set_Config(Type::MODE, "\x01"));
    (void)Network::set_Config_Apply();
    struct stat second;
    ASSERT_EQ(0, stat(stanza_file.c_str(), &second));
    EXPECT_EQ(first.st_ino, second.st_ino);
}

// On a bare host a change's first step is the default file: staging writes nothing, and an apply
// that fails takes the default back with the edit.
TEST_F(Safety, ADefaultWrittenForAChangeIsUndoneWithIt)
{
    const struct {
        const char* name;
        int apply_status;
        bool kept;
    } rows[] = {{"applied", 0, true}, {"the apply fails", 1, false}};
    for (const auto& row : rows) {
        fs::remove(netplan_file);
        set_Tool_Answer("netplan", "apply", "", row.apply_status);
        Network::set_Interface_Selected("eth0");
        EXPECT_EQ(0, Network::set_Config(Type::MODE, "\x01")) << row.name;
        EXPECT_EQ(0, Network::set_Config(Type::IP_ADDRESS, "10.0.0.5")) << row.name;
        EXPECT_EQ(0, Network::set_Config(Type::SUBNETMASK, "255.255.255.0")) << row.name;
        EXPECT_FALSE(fs::exists(netplan_file)) << row.name << ": staging wrote the default";
        unsigned int window = get_Trial_Window();
        set_Trial_Window(row.kept ? 0 : 1);
        clear_Tool_Calls();
        EXPECT_EQ(row.kept, Network::set_Config_Apply()) << row.name;
        set_Trial_Window(window);
        EXPECT_EQ(row.kept, fs::exists(netplan_file)) << row.name;
        if (row.kept) {
            EXPECT_NE(std::string::npos, read_File(netplan_file).find("- 10.0.0.5/24")) << row.name;
        }
        EXPECT_FALSE(fs::exists("/var/lib/lumerion-hostd/trial")) << row.name;
        EXPECT_EQ(row.kept ? 1u : 2u, get_Command_Calls().size()) << row.name;
    }
    set_Tool_Answer("netplan", "apply", "", 0);
}

TEST_F(Safety, GatewayOfTheDaemonsOwnFileSurvivesAnotherChange)
{
    write_File(netplan_file, "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n      addresses:\n"
                             "        - 10.0.0.5/24\n      routes:\n        - to: default\n"
                             "          via: 10.0.0.1\n");
    Network::set_Interface_Name("eth0");
    EXPECT_EQ("10.0.0.1", Access::staged().ip4_gateway);
    clear_Tool_Calls();
    EXPECT_EQ(0, Network::set_Config(Type::DNS1, "9.9.9.9"));
    EXPECT_TRUE(Network::set_Config_Apply());
    EXPECT_EQ(std::vector<std::string>{"netplan apply"}, get_Command_Calls());
    std::string text = read_File(netplan_file);
    EXPECT_EQ(
        "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n      addresses:\n        - 10.0.0.5/24\n"
        "      routes:\n        - to: default\n          via: 10.0.0.1\n      nameservers:\n"
        "        addresses:\n          - 9.9.9.9\n",
        text);
    Netplan_Verdict verdict = get_Netplan_Verdict(text);
    EXPECT_EQ(0, verdict.rc) << verdict.err;
}

struct Refusal {
    const char* name;
    const char* manager;              // "netplan", "nm" or "ifupdown"
    std::string file;                 // the manager's file
    std::vector<std::string> sibling; // another netplan file: path, text
    std::vector<std::string> texts;   // set_Config values, IP_ADDRESS then SUBNETMASK
    bool read_only;                   // /etc/netplan mounted read-only
    std::string line;                 // the one ERROR line, from its function name on
};

class ApplyRefused : public Safety, public ::testing::WithParamInterface<Refusal> {};

TEST_P(ApplyRefused, NothingIsWrittenOrRun)
{
    const Refusal& r = GetParam();
    std::string path = std::string(r.manager) == "nm" ? keyfile : netplan_file;
    write_File(path, r.file);
    if (!r.sibling.empty())
        write_File(r.sibling[0], r.sibling[1]);
    if (std::string(r.manager) == "nm") {
        set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
        set_Nmcli_Profile(profile_uuid, keyfile, true);
    }
    Network::set_Interface_Name("eth0");
    EXPECT_EQ(0, Network::set_Config(Type::MODE, "\x01"));
    const Type types[] = {Type::IP_ADDRESS, Type::SUBNETMASK};
    for (size_t i = 0; i < r.texts.size(); ++i)
        EXPECT_EQ(0, Network::set_Config(types[i], r.texts[i].c_str()));
    const char* read_only = "mount --bind /etc/netplan /etc/netplan && mount -o remount,bind,ro /etc/netplan";
    ASSERT_EQ(0, r.read_only ? run_Shell(read_only) : 0);
    clear_Tool_Calls();
    Log_Capture log;
    EXPECT_FALSE(Network::set_Config_Apply());
    EXPECT_EQ("\033[31m[ERROR]\t[Network] " + r.line + "\033[0m\n", log.text());
    EXPECT_EQ(r.file, read_File(path));
    EXPECT_TRUE(get_Command_Calls().empty());
    for (const auto& entry : fs::directory_iterator("/run"))
        EXPECT_EQ(std::string::npos, entry.path().string().find("lumerion-netplan")) << entry.path();
    if (r.read_only)
        run_Shell("umount /etc/netplan");
}

const std::string default_document =
    "network:\n  ethernets:\n    eth0:\n      dhcp4: true\n      nameservers:\n"
    "        addresses:\n          - 1.1.1.1\n          - 8.8.8.8\n";
const std::string no_fit = "set_Config_Apply: refused to apply: static settings need an address other than "
                           "0.0.0.0, a subnet mask with "
                           "a prefix of 1 to 32";

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplyRefused,
    ::testing::Values(
        Refusal{
            "netplan_static_before_any_route_is_known", "netplan", default_document, {}, {}, false, no_fit},
        Refusal{"netplan_address_without_mask",
                "netplan",
                default_document,
                {},
                {"10.0.0.5"},
                false,
                "set_Config_Apply: refused to apply: static settings need a subnet mask with a prefix of 1 "
                "to 32"},
        Refusal{"network_manager_static_before_any_route_is_known",
                "nm",
                "[connection]\ntype=ethernet\ninterface-name=eth0\n\n[ipv4]\nmethod=auto\n",
                {},
                {},
                false,
                no_fit},
        Refusal{"netplan_refuses_the_directory",
                "netplan",
                default_document,
                {"/etc/netplan/00-lab.yaml", "network:\n  ethernets:\n    eth0:\n      addresses: [lab]\n"},
                {"10.0.0.5", "255.255.255.0"},
                false,
                // A file netplan refuses says nothing of who owns eth0: nothing is edited.
                "set_Config_Apply: Config File Load Error: /etc/netplan/00-lab.yaml:4:18: Error in network "
                "definition: address 'lab' is missing /prefixlength"},
        Refusal{"netplan_file_cannot_be_replaced",
                "netplan",
                default_document,
                {},
                {"10.0.0.5", "255.255.255.0"},
                true,
                "set_Config_Apply: cannot replace /etc/netplan/01-netcfg.yaml: Read-only file system"},
        Refusal{"netplan_file_does_not_load",
                "netplan",
                "network: {\n",
                {},
                {"10.0.0.5", "255.255.255.0"},
                false,
                "set_Config_Apply: Config File Load Error: yaml-cpp: error at line 2, column 1: end of map "
                "flow not found"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// After the daemon's stop no step of a change starts: the change leaves its record, which says that
// nothing was written yet, and the next change finishes it first.
TEST_F(Safety, AfterTheStopNoStepStarts)
{
    write_File(netplan_file, default_document);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Network::set_Interface_Name("eth0");
            (void)Network::set_Config(Type::DNS1, "9.9.9.9");
            set_Changes_Stopped();
            _exit(Network::set_Config_Apply() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "change stops here, as the daemon stops");
    EXPECT_EQ(default_document, read_File(netplan_file));
    Trial_Record left;
    std::string error;
    ASSERT_EQ(Record_State::OPEN, get_Stored_Record(&left, &error)) << error;
    EXPECT_FALSE(left.applied);
    ASSERT_EQ(2u, left.steps.size());
    EXPECT_EQ(Trial_Mark::STATE::PENDING, left.steps[0].state);
    EXPECT_EQ("run netplan apply", left.steps[1].action);
    Network::set_Interface_Name("eth0");
    EXPECT_EQ(0, Network::set_Config(Type::DNS1, "9.9.9.9"));
    EXPECT_TRUE(Network::set_Config_Apply());
    EXPECT_NE(std::string::npos, read_File(netplan_file).find("- 9.9.9.9")) << read_File(netplan_file);
    EXPECT_FALSE(fs::exists("/var/lib/lumerion-hostd/trial"));
}

// Without a live address the refresh holds placeholders (mask 255.255.255.255):
// they are no settings, so static with an address alone stays incomplete.
TEST_F(Safety, PlaceholdersOfTheRefreshAreNoSettings)
{
    write_File(netplan_file, default_document);
    Network::update_Default_IP_Info();
    ASSERT_EQ("255.255.255.255", Access::live().ip4_subnetmask);
    Network::set_Interface_Name("eth0");
    EXPECT_EQ("", read_Setting(Type::SUBNETMASK));
    EXPECT_EQ("", read_Setting(Type::IP_ADDRESS));
    EXPECT_EQ(0, Network::set_Config(Type::MODE, "\x01"));
    EXPECT_EQ(0, Network::set_Config(Type::IP_ADDRESS, "10.0.0.5"));
    Log_Capture log;
    EXPECT_FALSE(Network::set_Config_Apply());
    EXPECT_NE(std::string::npos, log.text().find("static settings need a subnet mask")) << log.text();
    EXPECT_EQ(default_document, read_File(netplan_file));
}

// The daemon read its settings at start; an operator changed one since. A
// change from the BMC writes only what it gives, onto what the host holds now.
TEST_F(Safety, AChangeMadeMeanwhileIsKept)
{
    write_File(netplan_file, default_document);
    Network::set_Interface_Name("eth0");
    std::string meanwhile = default_document;
    meanwhile.replace(meanwhile.find("8.8.8.8"), 7, "8.8.4.4");
    write_File(netplan_file, meanwhile);
    EXPECT_EQ(0, Network::set_Config(Type::DNS1, "9.9.9.9"));
    EXPECT_TRUE(Network::set_Config_Apply());
    std::string text = read_File(netplan_file);
    EXPECT_NE(std::string::npos, text.find("- 9.9.9.9\n          - 8.8.4.4\n")) << text;
}

TEST_F(Safety, NetworkManagerStaticWithoutGatewayClearsTheProfilesGateway)
{
    write_File(keyfile, "[connection]\ntype=ethernet\ninterface-name=eth0\n\n[ipv4]\nmethod=auto\n");
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    set_Nmcli_Profile(profile_uuid, keyfile, true);
    Network::set_Interface_Name("eth0");
    EXPECT_EQ(0, Network::set_Config(Type::MODE, "\x01"));
    EXPECT_EQ(0, Network::set_Config(Type::IP_ADDRESS, "10.0.0.5"));
    EXPECT_EQ(0, Network::set_Config(Type::SUBNETMASK, "255.255.255.0"));
    EXPECT_EQ(0, Network::set_Config(Type::GATEWAY, "0.0.0.0"));
    clear_Tool_Calls();
    EXPECT_TRUE(Network::set_Config_Apply());
    EXPECT_EQ((std::vector<std::string>{"nmcli con mod uuid " + profile_uuid +
                                            " ipv4.method manual ipv4.addresses 10.0.0.5/24 ipv4.gateway ",
                                        "nmcli device reapply eth0"}),
              get_Command_Calls());
}

// A profile NetworkManager holds only in memory has no file: its trial names it by UUID, never a path.
TEST_F(Safety, AProfileHeldInMemoryIsRecordedByItsUuid)
{
    set_Tool_Answer("systemctl", "is-active NetworkManager", "active\n");
    set_Nmcli_Profile(profile_uuid, "", true);
    Change_Plan plan = Network_Test_Access::plan();
    EXPECT_EQ(Network::MANAGER_TYPE::NETWORK_MANAGER, plan.target.manager);
    EXPECT_EQ(profile_uuid, plan.target.profile_uuid);
    EXPECT_TRUE(plan.watched_files.empty()) << plan.watched_files.front();
}

} // namespace
