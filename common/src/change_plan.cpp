// What a settings change runs on the host: each manager's commands, for an
// apply and for a rollback alike.
#include "change_plan.h"

#include "extra_command_handling.h"

std::vector<std::string> get_Apply_Commands(const Apply_Target& target)
{
    std::vector<std::string> commands;
    const std::string interface_word = get_Shell_Word(target.interface_name);
    switch (target.manager) {
    case Network::MANAGER_TYPE::IFUPDOWN:
        commands.push_back("systemctl restart networking.service");
        break;
    case Network::MANAGER_TYPE::NETPLAN:
        commands.push_back("netplan apply");
        break;
    case Network::MANAGER_TYPE::NETWORK_MANAGER:
        // NetworkManager applies what it holds in memory: a keyfile written behind its back is loaded first.
        for (const std::string& file : target.reloaded_files)
            commands.push_back("nmcli con load " + get_Shell_Word(file));
        // Reapply only takes the active profile; an inactive one is brought up on the interface.
        commands.push_back(target.profile_active
                               ? "nmcli device reapply " + interface_word
                               : "nmcli con up uuid " + get_Shell_Word(target.profile_uuid) + " ifname " +
                                     interface_word);
        break;
    case Network::MANAGER_TYPE::UNKNOWN:
        break;
    }
    return commands;
}
