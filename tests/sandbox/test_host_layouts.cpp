// Stock host layouts (tests/fixtures/layouts) through start-up, the operator
// CLI's show, a static change and a DHCP change, judged by what the real
// netplan generator renders from the whole tree.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host_paths.h"
#include "log.h"
#include "network.h"
#include "parser_judges.h"
#include "process.h"
#include "sandbox.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string layouts = std::string(LUMERION_SOURCE_DIR) + "/tests/fixtures/layouts/";

Process_Result netcfg(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {LUMERION_NETCFG_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.push_back(*e);
    return run_Process(argv, env);
}

// Every file and link under /etc and /run with its mode and bytes.
std::map<std::string, std::string> get_Tree_Snapshot()
{
    std::map<std::string, std::string> tree;
    for (const char* top : {"/etc", "/run"}) {
        std::error_code error;
        auto options = fs::directory_options::skip_permission_denied;
        for (fs::recursive_directory_iterator it(top, options, error), end; !error && it != end;
             it.increment(error)) {
            struct stat info;
            if (lstat(it->path().c_str(), &info) != 0 || S_ISDIR(info.st_mode))
                continue;
            std::string what = std::to_string(info.st_mode) + " ";
            what += S_ISLNK(info.st_mode) ? fs::read_symlink(it->path()).string() : read_File(it->path());
            tree[it->path().string()] = what;
        }
    }
    return tree;
}

// The renderer lines in the order the judge gives them.
std::string get_Sorted_Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line + "\n");
    std::sort(lines.begin(), lines.end());
    std::string sorted;
    for (const std::string& line : lines)
        sorted += line;
    return sorted;
}

struct Layout {
    const char* name;
    const char* shown; // the start of show's settings
    bool editable;     // changes go through, or are refused with no byte changed
    const char* kept;  // eth0's other renderer lines that every change keeps
};

void show_Changes_Nothing(const Layout& row, bool no_eth0)
{
    auto before = get_Tree_Snapshot();
    Process_Result show = netcfg({"show"});
    EXPECT_TRUE(before == get_Tree_Snapshot()) << "show changed a file";
    EXPECT_EQ(no_eth0 ? 1 : 0, show.exit_status) << show.err;
    EXPECT_NE(std::string::npos, (show.out + show.err).find(row.shown)) << show.out << show.err;
}

class HostLayout : public ::testing::TestWithParam<Layout> {};

const std::vector<std::string> static_change = {"set",       "--static",      "--address", "10.0.0.77",
                                                "--netmask", "255.255.255.0", "--gateway", "10.0.0.1",
                                                "--dns1",    "9.9.9.9",       "--apply"};
const std::vector<std::string> dhcp_change = {"set", "--dhcp", "--apply"};

TEST_P(HostLayout, EachChangeGivesEth0ExactlyWhatWasAsked)
{
    const Layout& row = GetParam();
    const std::string root = layouts + row.name;
    ASSERT_EQ(0, run_Shell("ip link set eth0 down && ip link set eth0 address 52:54:00:12:34:56 && "
                           "ip link set eth0 up"));
    for (const char* top : {"etc", "run"}) {
        if (fs::is_directory(root + "/" + top)) {
            ASSERT_EQ(0, run_Shell("cp -r " + root + "/" + top + "/. /" + top + "/"));
        }
    }
    run_Shell("chmod 600 /etc/netplan/*.yaml /run/netplan/*.yaml 2>/dev/null");
    bool no_eth0 = std::string(row.name) == "no_eth0";
    if (no_eth0) {
        ASSERT_EQ(0, run_Shell("ip link set eth0 down && ip link set eth0 name enP5p1s0"));
    }
    set_Tool_Answer("systemctl", "is-active NetworkManager", "inactive\n", 3);

    // Before the daemon ever ran (no default, leftover in place) and after.
    if (std::string(row.name) != "bare")
        show_Changes_Nothing(row, no_eth0);
    // Start-up: what main does first.
    Log_Capture log;
    Network::set_Interface_Name("eth0");
    std::string start = log.text();
    EXPECT_EQ(no_eth0 ? 1u : 0u, static_cast<size_t>(std::count(start.begin(), start.end(), '\033')) / 2)
        << start;
    Netplan_Verdict rendered = get_Netplan_Tree_Verdict();

    show_Changes_Nothing(row, no_eth0);

    const struct {
        const std::vector<std::string>& args;
        std::string renders;
    } changes[] = {
        {static_change, "Address=10.0.0.77/24\n" + std::string(row.kept) + "DNS=9.9.9.9\nGateway=10.0.0.1\n"},
        {dhcp_change, std::string(row.kept) + "DHCP=ipv4\nDNS=9.9.9.9\n"},
        // A repeated apply changes nothing more: no other address is lost to it.
        {dhcp_change, std::string(row.kept) + "DHCP=ipv4\nDNS=9.9.9.9\n"},
    };
    for (const auto& change : changes) {
        auto before = get_Tree_Snapshot();
        Process_Result r = netcfg(change.args);
        EXPECT_EQ(row.editable ? 0 : 1, r.exit_status) << r.err;
        Netplan_Verdict verdict = get_Netplan_Tree_Verdict();
        if (row.editable) {
            EXPECT_EQ(get_Sorted_Lines(change.renders), verdict.unit) << change.args[1];
        } else {
            EXPECT_TRUE(before == get_Tree_Snapshot()) << change.args[1] << ": a refused change wrote";
            EXPECT_EQ(rendered.unit, verdict.unit);
        }
        EXPECT_EQ(0, verdict.rc) << verdict.err;
        EXPECT_EQ("", verdict.err);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, HostLayout,
    ::testing::Values(
        Layout{"cloud_init_on",
               "mode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: 10.0.0.1\n"
               "dns1: 10.0.0.2\n",
               false, ""},
        Layout{"cloud_init_off",
               "mode: static\naddress: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: 10.0.0.1\n", true, ""},
        Layout{"cloud_mac_set_name", "mode: dhcp\n", true, ""},
        Layout{"installer", "mode: static\naddress: 10.0.0.5\n", true, ""},
        // Before start-up show tells the merge as netplan renders it: DHCP on top of the address.
        Layout{"leftover", "address: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: 10.0.0.1\n", true, ""},
        Layout{"second_address", "mode: static\naddress: 10.0.0.5\n", true, "Address=10.0.0.9/24\n"},
        Layout{"no_eth0", "eth0 does not exist", false, ""},
        // The second default server stays: the change names only the first.
        Layout{"bare", "manager: netplan\nmode: dhcp\n", true, "DNS=8.8.8.8\n"},
        Layout{"spread", "mode: static\naddress: 10.0.0.5\n", false, ""},
        Layout{"runtime", "mode: static\naddress: 10.0.0.5\n", false, ""}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

} // namespace
