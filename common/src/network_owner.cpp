// Who owns the selected interface's configuration, and where: netplan's
// definition as netplan itself matches and merges it, the ifupdown stanza or
// the NetworkManager keyfile. The lookup only reads; writing the default for a
// bare host and removing this daemon's own harmful leftovers are separate steps.
#include <limits.h>
#include <net/if.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <system_error>

#include <yaml-cpp/yaml.h>

#include "extra_command_handling.h"
#include "file_replace.h"
#include "log.h"
#include "network.h"
#include "network_backend.h"
#include "settings_trial.h"

namespace {

namespace fs = std::filesystem;

const char* const __log_tag = "Network";

std::string get_Interface_Driver(const std::string& name)
{
    char target[PATH_MAX];
    std::string link = "/sys/class/net/" + name + "/device/driver";
    ssize_t n = readlink(link.c_str(), target, sizeof(target) - 1);
    if (n <= 0)
        return "";
    return fs::path(std::string(target, static_cast<size_t>(n))).filename().string();
}

} // namespace

std::vector<Interface_Facts> get_Host_Interfaces()
{
    std::vector<Interface_Facts> interfaces;
    std::error_code failed;
    for (fs::directory_iterator it("/sys/class/net", failed), end; !failed && it != end;
         it.increment(failed)) {
        const std::string name = it->path().filename().string();
        if (name == "lo")
            continue;
        std::string mac;
        std::string error;
        (void)get_File_Content("/sys/class/net/" + name + "/address", &mac, &error);
        mac.resize(std::min(mac.find('\n'), mac.size()));
        interfaces.push_back({name, mac, get_Interface_Driver(name)});
    }
    std::sort(interfaces.begin(), interfaces.end(),
              [](const Interface_Facts& a, const Interface_Facts& b) { return a.name < b.name; });
    return interfaces;
}

bool Network::get_Interface_Exist()
{
    return !config.target_interface.empty() && if_nametoindex(config.target_interface.c_str()) != 0;
}

int get_Owner_Choice(const std::vector<Owner_Candidate>& candidates, const std::string& interface_name,
                     std::string* refusal)
{
    if (candidates.size() == 1)
        return 0;
    int running = -1;
    std::string list;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const Owner_Candidate& c = candidates[i];
        list += std::string(list.empty() ? "" : ", ") +
                Network::MANAGER_TYPE_STRING[static_cast<uint8_t>(c.manager)] + " in " + c.where +
                (c.running ? " (running)" : "");
        if (c.running)
            running = running == -1 ? static_cast<int>(i) : -2;
    }
    if (running >= 0)
        return running;
    if (!candidates.empty())
        *refusal = "several managers define " + interface_name + " (" + list + ") and " +
                   (running == -1 ? "none" : "more than one") +
                   " of them is running: remove the definitions of all but one";
    return -1;
}

void Network::set_Owner_Kept(bool kept)
{
    owner_kept = kept;
    kept_owner.reset();
}

Network::Owner Network::get_Owner()
{
    if (!owner_kept)
        return get_Owner_Found();
    if (kept_owner == nullptr) {
        kept_owner.reset(new Owner(get_Owner_Found()));
        kept_under_hold = get_Settings_Hold();
    }
    return *kept_owner;
}

Network::Owner Network::get_Owner_Found(int network_manager)
{
    Owner owner;
    const std::string& name = config.target_interface;
    owner.interface_name = name;
    if (!get_Interface_Exist())
        return owner;
    owner.present = true;
    Owner_Lookup lookup;
    // NetworkManager's state is asked at once: systemctl answers while the files are read.
    lookup.network_manager = network_manager;
    if (network_manager < 0)
        lookup.nm_query.reset(new Probe_Run(get_Network_Manager_Query()));
    lookup.facts = {name, get_Interface_MAC_Address(), get_Interface_Driver(name)};
    if (access(("/sys/class/net/" + name + "/wireless").c_str(), F_OK) == 0)
        lookup.facts.type = "wlan";
    lookup.base = owner;
    // Each manager's own answer, then the one of them that owns the interface.
    std::vector<Owner> found;
    for (const Manager_Backend* row : get_Manager_Backends())
        if (row->find != nullptr && !row->find(&lookup, &found))
            return found.back();
    bool running = lookup.get_Network_Manager_Running();
    lookup.base.network_manager = running;
    for (Owner& each : found)
        each.network_manager = running;
    if (found.empty()) {
        for (const Manager_Backend* row : get_Manager_Backends())
            if (row->find_alone != nullptr && row->find_alone(lookup, &owner))
                return owner;
        return lookup.base;
    }
    std::vector<Owner_Candidate> candidates;
    candidates.reserve(found.size());
    for (const Owner& o : found) {
        // NetworkManager was asked once already.
        std::string service = get_Manager_Backend(o.manager).service(o);
        candidates.push_back(
            {o.manager, o.file,
             found.size() > 1 &&
                 (service == "NetworkManager" ? running : get_Systemd_Service_Status(service.c_str()))});
    }
    std::string refusal;
    int chosen = get_Owner_Choice(candidates, name, &refusal);
    if (chosen < 0) {
        lookup.base.error = refusal;
        return lookup.base;
    }
    return found[static_cast<size_t>(chosen)];
}
