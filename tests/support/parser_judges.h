#ifndef LUMERION_TEST_PARSER_JUDGES_H
#define LUMERION_TEST_PARSER_JUDGES_H

#include <string>

// The managers' own parsers as judges of what the daemon wrote (sandbox only).

// What "netplan generate" makes of `text` as /etc/netplan/01-netcfg.yaml in a
// root of its own: its exit status, its messages and eth0's networkd unit.
struct Netplan_Verdict {
    int rc = -1;
    std::string err;
    std::string unit;
};
Netplan_Verdict get_Netplan_Verdict(const std::string& text);

// What "netplan generate" makes of the sandbox's whole netplan tree
// (/etc/netplan and /run/netplan): its exit status, its messages, and the
// Address, DHCP, DNS and Gateway lines of every networkd unit, sorted.
Netplan_Verdict get_Netplan_Tree_Verdict();

// The options ifupdown's own ifquery reads for eth0 from a stanza file.
std::string get_Ifquery_Options(const std::string& file);

// What "ifup --no-act eth0" would do with the sandbox's whole ifupdown tree:
// one "address A/MASK", "gateway G" or "dhcp" line per step it prints.
std::string get_Ifup_Plan();

#endif
