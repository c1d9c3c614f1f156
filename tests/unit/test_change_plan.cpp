// What a change runs on the host, per manager's row of the back-end table and
// kind of change, and the undo a trial record gives back: one golden row each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "change_plan.h"
#include "network.h"
#include "network_backend.h"

namespace {

using Manager = Network::MANAGER_TYPE;

const char* const uuid = "3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01";
const char* const netplan_path = "/etc/netplan/01-netcfg.yaml";
const char* const keyfile = "/etc/NetworkManager/system-connections/eth0.nmconnection";
const char* const document = "network:\n  version: 2\n  ethernets:\n    eth0:\n      dhcp4: true\n";

std::string get_Joined(const std::vector<std::string>& commands)
{
    std::string text;
    for (const std::string& command : commands)
        text += command + "\n";
    return text;
}

// A plan as text: each step on its line, a file's new text indented under it.
std::string get_Plan_Text(const Change_Plan& plan)
{
    if (!plan.refusal.empty())
        return "refused: " + plan.refusal + "\n";
    std::string text;
    for (const Plan_Step& step : plan.steps) {
        text += get_Step_Action(step);
        if (step.kind != Plan_Step::KIND::RUN && !step.guard_hash.empty())
            text += step.guard_hash == get_Content_Hash(false, "") ? " (while absent)" : " (while unchanged)";
        if (step.restore && step.existed) {
            char mode[32];
            (void)snprintf(mode, sizeof(mode), " as %04o %u:%u", step.mode, step.uid, step.gid);
            text += mode;
        }
        if (step.kind == Plan_Step::KIND::PRUNE)
            text +=
                " of the profile " + step.uuid + ", but for " + std::to_string(step.names.size()) + " names";
        text += "\n";
        if (step.kind == Plan_Step::KIND::WRITE && !step.restore)
            for (size_t at = 0; at < step.bytes.size();) {
                size_t end = step.bytes.find('\n', at);
                end = end == std::string::npos ? step.bytes.size() : end + 1;
                text += "  | " + step.bytes.substr(at, end - at);
                at = end;
            }
    }
    for (const std::string& path : plan.watched_files)
        text += "watch " + path + "\n";
    return text;
}

Network::Config get_Static(const char* dns1 = "9.9.9.9")
{
    Network::Config settings;
    settings.target_interface = "eth0";
    settings.ip4_dhcp = false;
    settings.ip4_address = "192.168.1.10";
    settings.ip4_subnetmask = "255.255.255.0";
    settings.ip4_gateway = "192.168.1.1";
    settings.dns1 = dns1;
    return settings;
}

Network::Config get_Dhcp(const char* dns1 = "", const char* dns2 = "")
{
    Network::Config settings;
    settings.target_interface = "eth0";
    settings.ip4_dhcp = true;
    settings.dns1 = dns1;
    settings.dns2 = dns2;
    return settings;
}

Plan_Input get_Input(Manager manager, const Network::Config& settings)
{
    Plan_Input input;
    input.target.manager = manager;
    input.target.interface_name = "eth0";
    input.settings = settings;
    switch (manager) {
    case Manager::NETPLAN:
        input.file = netplan_path;
        input.file_text = document;
        input.netplan_entry = "eth0";
        break;
    case Manager::NETWORK_MANAGER:
        input.target.profile_uuid = uuid;
        input.target.profile_active = true;
        input.profile_file = keyfile;
        input.profile_current = "ipv4.method:auto\nipv4.addresses:\n";
        break;
    case Manager::IFUPDOWN:
        // Static goes onto a DHCP stanza, DHCP onto a static one.
        input.file = "/etc/network/interfaces";
        input.file_text = settings.ip4_dhcp ? "auto eth0\niface eth0 inet static\n    address 10.0.0.5/24\n"
                                              "    gateway 10.0.0.1\n"
                                            : "auto eth0\niface eth0 inet dhcp\n";
        input.staged = {Network::CONFIG_TYPE::MODE};
        if (!settings.ip4_dhcp)
            input.staged.insert(input.staged.end(),
                                {Network::CONFIG_TYPE::IP_ADDRESS, Network::CONFIG_TYPE::SUBNETMASK,
                                 Network::CONFIG_TYPE::GATEWAY, Network::CONFIG_TYPE::DNS1});
        break;
    case Manager::SYSTEMD_NETWORKD:
        input.file = "/etc/systemd/network/10-eth0.network";
        break;
    case Manager::UNKNOWN:
        break;
    }
    return input;
}

TEST(ChangePlan, EachManagersApplyCommands)
{
    const struct {
        const char* name;
        Apply_Target target;
        const char* commands;
    } rows[] = {
        {"ifupdown", {Manager::IFUPDOWN, "eth0", "", false}, "systemctl start networking.service\n"},
        {"netplan", {Manager::NETPLAN, "eth0", "", false}, "netplan apply\n"},
        {"active profile", {Manager::NETWORK_MANAGER, "eth0", uuid, true}, "nmcli device reapply eth0\n"},
        {"inactive profile",
         {Manager::NETWORK_MANAGER, "eth0", uuid, false},
         "nmcli con up uuid 3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01 ifname eth0\n"},
        {"no manager", {Manager::UNKNOWN, "eth0", "", false}, ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.commands, get_Joined(get_Manager_Backend(row.target.manager).apply(row.target)))
            << row.name;
}

// Each row's fixed entry points: the lookup's order, the commands around a change, a bare host's default,
// and what a change to it is refused for as soon as a value is staged.
TEST(BackendTable, OneGoldenRowPerManager)
{
    Interface_Owner owner;
    owner.interface_name = "eth0";
    owner.file = "/etc/systemd/network/10-eth0.network";
    const Apply_Target target = {Manager::UNKNOWN, "eth0", uuid, true};
    const struct {
        Manager manager;
        const char* down;
        const char* default_path;
        const char* reload;
        bool reads_own_errors;
        const char* refused;
    } rows[] = {
        {Manager::NETPLAN, "", netplan_path, "", true, ""},
        {Manager::IFUPDOWN, "systemctl stop networking.service\n", "", "", false, ""},
        {Manager::SYSTEMD_NETWORKD, "", "", "", false,
         "eth0 is managed by systemd-networkd through /etc/systemd/network/10-eth0.network, whose settings "
         "are "
         "read only here: to hand eth0 over, move them into a netplan file under /etc/netplan and remove "
         "/etc/systemd/network/10-eth0.network"},
        {Manager::NETWORK_MANAGER, "", keyfile, "nmcli con reload", false, ""},
    };
    ASSERT_EQ(sizeof(rows) / sizeof(rows[0]), get_Manager_Backends().size());
    for (size_t i = 0; i < get_Manager_Backends().size(); ++i) {
        const Manager_Backend& row = *get_Manager_Backends()[i];
        SCOPED_TRACE(Network::MANAGER_TYPE_STRING[static_cast<uint8_t>(rows[i].manager)]);
        EXPECT_EQ(rows[i].manager, row.manager);
        EXPECT_EQ(&row, &get_Manager_Backend(row.manager));
        EXPECT_EQ(rows[i].down, get_Joined(row.down(target)));
        EXPECT_EQ(rows[i].default_path, row.default_path != nullptr ? row.default_path("eth0") : "");
        EXPECT_STREQ(rows[i].reload, row.reload);
        EXPECT_EQ(rows[i].reads_own_errors, row.reads_own_errors);
        EXPECT_EQ(rows[i].refused, row.refusal != nullptr ? row.refusal(owner) : "");
    }
    // No manager: nothing is read, nothing is planned.
    const Manager_Backend& none = get_Manager_Backend(Manager::UNKNOWN);
    char buffer[8] = {};
    EXPECT_EQ(1, none.read(Network::CONFIG_TYPE::MODE, owner, buffer, sizeof(buffer)));
    EXPECT_EQ("refused: refused to apply: no manager owns eth0\n",
              get_Plan_Text(get_Change_Plan(get_Input(Manager::UNKNOWN, get_Dhcp()))));
}

TEST(ChangePlan, EachManagerAndKindOfChange)
{
    Plan_Input fresh = get_Input(Manager::NETPLAN, get_Static());
    fresh.owner_steps = get_Default_Steps(Manager::NETPLAN, netplan_path, document);
    Plan_Input leftover = get_Input(Manager::NETPLAN, get_Dhcp());
    leftover.owner_steps = get_Leftover_Steps("/etc/netplan/01-netcfg.yaml.old");
    leftover.file = "/etc/netplan/50-cloud-init.yaml";
    Plan_Input in_memory = get_Input(Manager::NETWORK_MANAGER, get_Dhcp("1.1.1.1"));
    in_memory.profile_file = "profile " + std::string(uuid);
    in_memory.target.profile_active = false;
    Network::Config no_mask = get_Static();
    no_mask.ip4_subnetmask = "";
    Plan_Input dns_only = get_Input(Manager::IFUPDOWN, get_Dhcp("9.9.9.9"));
    dns_only.staged = {Network::CONFIG_TYPE::DNS1};
    // Three servers; DNS1 cleared while DNS2 is set: one write of both keeps the third where it was.
    Plan_Input dns_list = get_Input(Manager::IFUPDOWN, get_Dhcp("", "8.8.4.4"));
    dns_list.file_text =
        "auto eth0\niface eth0 inet dhcp\n    dns-nameservers 1.1.1.1 fd00::53 8.8.8.8 9.9.9.9\n";
    dns_list.staged = {Network::CONFIG_TYPE::DNS1, Network::CONFIG_TYPE::DNS2};
    Plan_Input dns_void = dns_only;
    dns_void.dns_void = "dns-nameservers takes no effect on this host";
    // Without a resolver hook, a change that leaves the servers as they are still goes through.
    Plan_Input dns_kept = dns_list;
    dns_kept.settings = get_Dhcp("1.1.1.1", "8.8.8.8");
    dns_kept.dns_void = dns_void.dns_void;
    dns_kept.staged = {Network::CONFIG_TYPE::MODE, Network::CONFIG_TYPE::DNS1};
    Plan_Input port = get_Input(Manager::IFUPDOWN, get_Static());
    port.master = "bridge br0";
    Plan_Input not_yaml = get_Input(Manager::NETPLAN, get_Static());
    not_yaml.file_text = "network: {\n";
    // The static edit, and the DHCP document it starts from.
    const std::string edit = "write /etc/netplan/01-netcfg.yaml (while unchanged)\n"
                             "  | network:\n"
                             "  |   version: 2\n"
                             "  |   ethernets:\n"
                             "  |     eth0:\n"
                             "  |       dhcp4: false\n"
                             "  |       addresses:\n"
                             "  |         - 192.168.1.10/24\n"
                             "  |       routes:\n"
                             "  |         - to: default\n"
                             "  |           via: 192.168.1.1\n"
                             "  |       nameservers:\n"
                             "  |         addresses:\n"
                             "  |           - 9.9.9.9\n"
                             "run netplan apply\n";
    const std::string dhcp = "  | network:\n"
                             "  |   version: 2\n"
                             "  |   ethernets:\n"
                             "  |     eth0:\n"
                             "  |       dhcp4: true\n";
    const struct {
        const char* name;
        Plan_Input input;
        std::string plan;
    } rows[] = {
        {"netplan static", get_Input(Manager::NETPLAN, get_Static()), edit},
        {"netplan DHCP", get_Input(Manager::NETPLAN, get_Dhcp()),
         "write /etc/netplan/01-netcfg.yaml (while unchanged)\n" + dhcp + "run netplan apply\n"},
        {"netplan DNS only", get_Input(Manager::NETPLAN, get_Dhcp("9.9.9.9")),
         "write /etc/netplan/01-netcfg.yaml (while unchanged)\n" + dhcp +
             "  |       nameservers:\n"
             "  |         addresses:\n"
             "  |           - 9.9.9.9\n"
             "run netplan apply\n"},
        // A bare host's default is the change's first step; the edit is made on it.
        {"netplan default file", fresh, "write /etc/netplan/01-netcfg.yaml\n" + dhcp + edit},
        {"netplan leftover removal", leftover,
         "remove /etc/netplan/01-netcfg.yaml.old\n"
         "write /etc/netplan/50-cloud-init.yaml (while unchanged)\n" +
             dhcp + "run netplan apply\n"},
        // The stanza holds the values already: the apply is the restart alone.
        // eth0 goes down by the stanza that brought it up, then comes up by the new one.
        {"ifupdown static", get_Input(Manager::IFUPDOWN, get_Static()),
         "run systemctl stop networking.service\n"
         "write /etc/network/interfaces (while unchanged)\n"
         "  | auto eth0\n"
         "  | iface eth0 inet static\n"
         "  |     address 192.168.1.10\n"
         "  |     netmask 255.255.255.0\n"
         "  |     gateway 192.168.1.1\n"
         "  |     dns-nameservers 9.9.9.9\n"
         "run systemctl start networking.service\n"},
        {"ifupdown DHCP", get_Input(Manager::IFUPDOWN, get_Dhcp()),
         "run systemctl stop networking.service\n"
         "write /etc/network/interfaces (while unchanged)\n"
         "  | auto eth0\n"
         "  | iface eth0 inet dhcp\n"
         "  |     #address 10.0.0.5/24\n"
         "  |     #gateway 10.0.0.1\n"
         "run systemctl start networking.service\n"},
        {"ifupdown DNS only", dns_only,
         "run systemctl stop networking.service\n"
         "write /etc/network/interfaces (while unchanged)\n"
         "  | auto eth0\n"
         "  | iface eth0 inet static\n"
         "  |     address 10.0.0.5/24\n"
         "  |     gateway 10.0.0.1\n"
         "  |     dns-nameservers 9.9.9.9\n"
         "run systemctl start networking.service\n"},
        {"ifupdown DNS list", dns_list,
         "run systemctl stop networking.service\n"
         "write /etc/network/interfaces (while unchanged)\n"
         "  | auto eth0\n"
         "  | iface eth0 inet dhcp\n"
         "  |     dns-nameservers 8.8.4.4 fd00::53 9.9.9.9\n"
         "run systemctl start networking.service\n"},
        {"ifupdown DNS without a resolver hook", dns_void,
         "refused: refused to apply: dns-nameservers takes no effect on this host; leave DNS1 and DNS2 as "
         "they are\n"},
        {"ifupdown DNS as it was, without a resolver hook", dns_kept,
         "run systemctl stop networking.service\nrun systemctl start networking.service\n"},
        {"NetworkManager static", get_Input(Manager::NETWORK_MANAGER, get_Static()),
         "run nmcli con mod uuid 3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01 ipv4.method manual ipv4.addresses "
         "'192.168.1.10/24' ipv4.gateway '192.168.1.1' ipv4.dns '9.9.9.9'\n"
         "run nmcli device reapply eth0\n"
         "watch /etc/NetworkManager/system-connections/eth0.nmconnection\n"},
        {"NetworkManager DHCP and DNS, in memory", in_memory,
         "run nmcli con mod uuid 3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01 ipv4.method auto ipv4.addresses '' "
         "ipv4.gateway '' ipv4.dns '1.1.1.1'\n"
         "run nmcli con up uuid 3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01 ifname eth0\n"},
        {"static without a mask", get_Input(Manager::NETPLAN, no_mask),
         "refused: refused to apply: static settings need a subnet mask with a prefix of 1 to 32\n"},
        {"netplan file that does not load", not_yaml,
         "refused: Config File Load Error: yaml-cpp: error at line 2, column 1: end of map flow not found\n"},
        {"a bridge's port", port,
         "refused: refused to apply: eth0 is a port of bridge br0: its addresses are br0's; change br0's "
         "settings instead, or take eth0 out of br0 first\n"},
        {"systemd-networkd", get_Input(Manager::SYSTEMD_NETWORKD, get_Static()),
         "refused: refused to apply: eth0 is managed by systemd-networkd through "
         "/etc/systemd/network/10-eth0.network, whose settings are read only here: to hand eth0 over, move "
         "them into a netplan file under /etc/netplan and remove /etc/systemd/network/10-eth0.network\n"},
        {"no manager", get_Input(Manager::UNKNOWN, get_Dhcp()),
         "refused: refused to apply: no manager owns eth0\n"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.plan, get_Plan_Text(get_Change_Plan(row.input))) << row.name;
}

TEST(ChangePlan, TheUndoARecordGivesBack)
{
    Trial_File edited;
    edited.path = netplan_path;
    edited.existed = true;
    edited.mode = 0640;
    edited.uid = 0;
    edited.gid = 4;
    edited.bytes = document;
    edited.written_hash = "0123456789abcdef";
    Trial_File created;
    created.path = keyfile;
    created.written_hash = "fedcba9876543210";
    Trial_Record netplan;
    netplan.manager = Manager::NETPLAN;
    netplan.interface_name = "eth0";
    netplan.files = {edited};
    netplan.applied = true;
    Trial_Record written_only = netplan;
    written_only.applied = false;
    Trial_Record profile = netplan;
    profile.manager = Manager::NETWORK_MANAGER;
    profile.profile_uuid = uuid;
    profile.profile_active = true;
    profile.files = {created, edited};
    profile.keyfile_directory = "/etc/NetworkManager/system-connections";
    profile.keyfiles_before = {"eth0.nmconnection"};
    Trial_Record stanza = netplan;
    stanza.manager = Manager::IFUPDOWN;
    stanza.files[0].path = "/etc/network/interfaces";
    Trial_Record nm_default = profile;
    nm_default.profile_uuid.clear();
    nm_default.files = {created};
    const struct {
        const char* name;
        Trial_Record record;
        const char* plan;
    } rows[] = {
        {"netplan, applied", netplan,
         "write /etc/netplan/01-netcfg.yaml (while unchanged) as 0640 0:4\nrun netplan apply\n"},
        // Until a command ran, the files are the whole undo.
        {"netplan, written only", written_only,
         "write /etc/netplan/01-netcfg.yaml (while unchanged) as 0640 0:4\n"},
        // A file the change created goes, and so do the keyfiles NetworkManager wrote for it; it reads its
        // files again before the reapply.
        {"NetworkManager", profile,
         "remove /etc/NetworkManager/system-connections/eth0.nmconnection (while unchanged)\n"
         "write /etc/netplan/01-netcfg.yaml (while unchanged) as 0640 0:4\n"
         "prune /etc/NetworkManager/system-connections of the profile 3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01, "
         "but "
         "for 1 names\n"
         "run nmcli con reload\n"
         "run nmcli device reapply eth0\n"},
        // eth0 goes down by the stanza the change wrote before the old one is back.
        {"ifupdown", stanza,
         "run systemctl stop networking.service\n"
         "write /etc/network/interfaces (while unchanged) as 0640 0:4\n"
         "run systemctl start networking.service\n"},
        {"NetworkManager default file", nm_default,
         "remove /etc/NetworkManager/system-connections/eth0.nmconnection (while unchanged)\n"
         "run nmcli con reload\n"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.plan, get_Plan_Text(get_Undo_Plan(row.record))) << row.name;
}

} // namespace

namespace {

// A keyfile NetworkManager wrote for a change is told by the UUID of its [connection] section alone.
TEST(ChangePlan, AKeyfilesProfileUuid)
{
    const struct {
        const char* text;
        const char* uuid;
    } rows[] = {
        {"[connection]\nid=Wired connection 1\nuuid=3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01\ntype=ethernet\n",
         "3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01"},
        {"  [connection]\r\n uuid=abc \r\n", "abc"},
        {"[ethernet]\nuuid=abc\n[connection]\nid=x\n", ""},
        {"", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.uuid, get_Keyfile_Uuid(row.text)) << row.text;
}

} // namespace
