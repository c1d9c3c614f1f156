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

// The same reading, always made in this process.
Netplan_Reading get_netplan_Reading_Here(const std::vector<Netplan_File>& files,
                                         const Interface_Facts& facts);

// From now on each reading runs in a process of `program` (the daemon, so
// that libnetplan and GLib are never mapped into it); "" reads in this process.
// A reader that cannot be run, fails or takes more than 10 s gives a reading
// that is not accepted, with the reason as its error.
void set_netplan_Reader_Program(const std::string& program);
// The same with the reader at `relative` from this program's own directory (as the package and the build
// tree lay them out: "../libexec/lumerion-hostd/lumerion-netplan-reader" from sbin).
void set_netplan_Reader_Beside(const std::string& relative);
// The reader process's side: answers one request from `input` in this process (the reader's main).
// False for a request that is damaged.
bool get_netplan_Reader_Answer(const std::string& input, std::string* output);

// The exchange with the reader process: the request and the reading as text, and back.
std::string get_netplan_Request_Text(const std::vector<Netplan_File>& files, const Interface_Facts& facts);
bool get_netplan_Request(const std::string& text, std::vector<Netplan_File>* files, Interface_Facts* facts);
std::string get_netplan_Reading_Text(const Netplan_Reading& reading);
bool get_netplan_Reading_From(const std::string& text, Netplan_Reading* reading);

#endif
