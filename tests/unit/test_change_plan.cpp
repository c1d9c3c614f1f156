// What a change runs on the host, per manager: one golden row each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "change_plan.h"

namespace {

using Manager = Network::MANAGER_TYPE;

std::string get_Joined(const std::vector<std::string>& commands)
{
    std::string text;
    for (const std::string& command : commands)
        text += command + "\n";
    return text;
}

TEST(ChangePlan, EachManagersApplyCommands)
{
    const std::string uuid = "3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01";
    const struct {
        const char* name;
        Apply_Target target;
        const char* commands;
    } rows[] = {
        {"ifupdown", {Manager::IFUPDOWN, "eth0", "", false, {}}, "systemctl restart networking.service\n"},
        {"netplan", {Manager::NETPLAN, "eth0", "", false, {}}, "netplan apply\n"},
        {"active profile", {Manager::NETWORK_MANAGER, "eth0", uuid, true, {}}, "nmcli device reapply eth0\n"},
        {"inactive profile",
         {Manager::NETWORK_MANAGER, "eth0", uuid, false, {}},
         "nmcli con up uuid 3c3f4e2a-6f0e-4d55-9a11-0b6d1c0e7a01 ifname eth0\n"},
        // A rollback's keyfile is loaded before the reapply, its name quoted for the shell.
        {"restored keyfile",
         {Manager::NETWORK_MANAGER,
          "eth0",
          uuid,
          true,
          {"/etc/NetworkManager/system-connections/Wired connection 1.nmconnection"}},
         "nmcli con load '/etc/NetworkManager/system-connections/Wired connection 1.nmconnection'\n"
         "nmcli device reapply eth0\n"},
        {"no manager", {Manager::UNKNOWN, "eth0", "", false, {}}, ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.commands, get_Joined(get_Apply_Commands(row.target))) << row.name;
}

} // namespace
