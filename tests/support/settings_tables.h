#ifndef LUMERION_TEST_SETTINGS_TABLES_H
#define LUMERION_TEST_SETTINGS_TABLES_H

#include <string>
#include <utility>
#include <vector>

#include "network.h"

// Golden tables of the two file transforms, shared by the pure tests (text
// in, text out) and the sandbox test that has the real netplan generator and
// ifquery judge every output.

// The netplan file before and after an update from `staged`.
struct Netplan_Row {
    const char* name;
    std::string before;
    Network::Config staged;
    std::string after;
};
const std::vector<Netplan_Row>& get_Netplan_Rows();

// A stanza file, what the daemon reads from it (MODE as "0"/"1", address,
// netmask, gateway), the writes made one after the other, the text after
// them, and what ifquery reads from that text for eth0.
struct Stanza_Row {
    const char* name;
    std::string before;
    std::vector<std::string> reads;
    std::vector<std::pair<Network::CONFIG_TYPE, std::string>> writes;
    std::string after;
    std::string parsed;
};
const std::vector<Stanza_Row>& get_Stanza_Rows();

#endif
