// Fuzz target for the netplan transform: any document and any record the
// daemon would write give either a reason or a text that loads again and
// that further updates with the same record keep as it is.
#include <stdlib.h>

#include <string>

#include <yaml-cpp/yaml.h>

#include "fuzz_input.h"
#include "network.h"

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
    try {
        YAML::Load(text);
    } catch (const std::exception&) {
        abort();
    }
    // A second update succeeds, and a third changes nothing: the emitter may
    // normalise a control character in a foreign scalar once, never more.
    std::string again;
    std::string third;
    if (!get_netplan_Update_Text(text, staged, &again, &reason) ||
        !get_netplan_Update_Text(again, staged, &third, &reason) || third != again)
        abort();
    return 0;
}
