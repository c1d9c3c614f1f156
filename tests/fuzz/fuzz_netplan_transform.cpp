// Fuzz target for the netplan transform: any document and any record the
// daemon would write give either a reason or a text that loads again and
// that further updates keep as it is, with the same record but the servers
// the daemon reads back from the file.
#include <stdlib.h>

#include <string>

#include <yaml-cpp/yaml.h>

#include "fuzz_input.h"
#include "network.h"
#include "network_netplan_yaml.h"
#include "network_parse.h"

namespace {

const char* const addresses[] = {"192.168.1.10", "10.0.0.5", "1.2.3.4"};
const char* const masks[] = {"255.255.255.0", "255.255.0.0", "255.255.255.255"};
const char* const gateways[] = {"", "0.0.0.0", "192.168.1.1", "10.0.0.1"};
const char* const servers[] = {"", "0.0.0.0", "9.9.9.9", "1.1.1.1"};
const char* const names[] = {"eth0", "eth1", "network", "0"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Fuzz_Input in(data, size);
    uint8_t a = in.get_Byte();
    uint8_t b = in.get_Byte();
    Network::Config staged{names[(b >> 4) % 4],  (a & 1) != 0,           addresses[(a >> 1) % 3],
                           masks[(a >> 3) % 3],  gateways[(a >> 5) % 4], servers[b % 4],
                           servers[(b >> 2) % 4]};
    std::string document = in.get_Rest();
    std::string text;
    std::string reason;
    if (!get_netplan_Update_Text(document, staged, &text, &reason)) {
        if (reason.empty())
            abort();
        return 0;
    }
    // The daemon reads the servers it did not stage back from the file before the next apply: a record
    // that cleared them clears the first two once, not again each time.
    Network::Config next = staged;
    try {
        const YAML::Node entry = YAML::Load(text)["network"]["ethernets"][staged.target_interface];
        const std::vector<std::string> servers = get_Server_List(entry);
        next.dns1 = get_DNS_IPv4_Server(servers, 0);
        next.dns2 = get_DNS_IPv4_Server(servers, 1);
    } catch (const std::exception&) {
        abort();
    }
    // A second update succeeds, and a third changes nothing: the emitter may
    // normalise a control character in a foreign scalar once, never more.
    std::string again;
    std::string third;
    if (!get_netplan_Update_Text(text, next, &again, &reason) ||
        !get_netplan_Update_Text(again, next, &third, &reason) || third != again)
        abort();
    return 0;
}
