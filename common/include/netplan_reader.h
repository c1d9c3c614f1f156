#ifndef LUMERION_NETPLAN_READER_H
#define LUMERION_NETPLAN_READER_H

#include <string>
#include <vector>

// netplan's own parser (libnetplan, loaded when first needed: a host without
// netplan needs nothing) reading a set of netplan files the way "netplan
// generate" reads /lib/netplan, /etc/netplan and /run/netplan.

// One netplan file: where it stands and the bytes it holds.
struct Netplan_File {
    std::string path;
    std::string text;
};

// The interface a definition may apply to, as netplan's matching sees it.
struct Interface_Facts {
    std::string name;
    std::string mac;            // lower case "xx:xx:..."; empty when unknown
    std::string driver;         // empty when the interface has no driver link
    std::string type = "ether"; // the link's kind as networkd's Type= names it: "ether", or "wlan" for Wi-Fi
};

struct Netplan_Reading {
    bool installed = false; // libnetplan could be loaded
    bool accepted = false;  // every file parses and the definitions fit together
    std::string error;      // netplan's first error line, naming the file
    std::string merged;     // the merged configuration as netplan writes it (YAML)
    // The ethernets definitions that apply to the interface: by their id, by
    // "set-name", or by a "match" netplan finds the interface in; netplan's order.
    std::vector<std::string> applying_ids;
};

// netplan's reading of `files`, merged in the order given; nothing is written.
Netplan_Reading get_netplan_Reading(const std::vector<Netplan_File>& files, const Interface_Facts& facts);

#endif
