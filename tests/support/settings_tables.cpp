#include "settings_tables.h"

namespace {

using Type = Network::CONFIG_TYPE;

const Network::Config fixed{"eth0", false, "192.168.1.10", "255.255.255.0", "192.168.1.1", "9.9.9.9", ""};
const Network::Config dhcp{"eth0", true, "", "", "", "", ""};

Network::Config get_Without_Gateway()
{
    Network::Config staged = fixed;
    staged.ip4_gateway = "0.0.0.0";
    return staged;
}

const std::string dhcp_mode(1, '\0');
const std::string static_mode = "\x01";

const std::string dual_stack_inet6 = "\n"
                                     "iface eth0 inet6 static\n"
                                     "    address 2001:db8::5\n"
                                     "    netmask 64\n"
                                     "    gateway 2001:db8::1\n";
const std::string inet6_parsed = "address: 2001:db8::5\nnetmask: 64\ngateway: 2001:db8::1\n";

} // namespace

const std::vector<Netplan_Row>& get_Netplan_Rows()
{
    static const std::vector<Netplan_Row> rows = {
        // Entries written from incomplete records before: an address without
        // its text, a /0 prefix, a default route with an empty via.
        {"broken_entries_repaired",
         "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n      addresses:\n        - /0\n"
         "        - 10.0.0.5/0\n        - \"fe80::5/64\"\n      routes:\n        - to: default\n"
         "          via: \"\"\n",
         dhcp,
         "network:\n  ethernets:\n    eth0:\n      dhcp4: true\n      addresses:\n        - "
         "\"fe80::5/64\"\n"},
        {"static_without_gateway_has_no_default_route",
         "network:\n  ethernets:\n    eth0:\n      dhcp4: true\n      nameservers:\n        addresses:\n"
         "          - 1.1.1.1\n          - 8.8.8.8\n",
         get_Without_Gateway(),
         "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n      addresses:\n        - "
         "192.168.1.10/24\n"
         "      nameservers:\n        addresses:\n          - 9.9.9.9\n"},
        // An address change keeps the servers after the first two IPv4 ones, and IPv6 ones where they stand.
        {"dns_servers_beyond_two_kept",
         "network:\n  ethernets:\n    eth0:\n      dhcp4: true\n      nameservers:\n        addresses:\n"
         "          - 1.1.1.1\n          - 2001:db8::53\n          - 8.8.8.8\n          - 9.9.9.9\n",
         Network::Config{"eth0", false, "192.168.1.10", "255.255.255.0", "", "1.1.1.1", "8.8.8.8"},
         "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n      addresses:\n        - "
         "192.168.1.10/24\n      nameservers:\n        addresses:\n          - 1.1.1.1\n"
         "          - \"2001:db8::53\"\n          - 8.8.8.8\n          - 9.9.9.9\n"},
        // Only the main-table IPv4 default route without a metric is the daemon's.
        {"foreign_routes_and_search_kept",
         "network:\n  version: 2\n  ethernets:\n    eth0:\n      dhcp4: true\n"
         "      addresses: [\"2001:db8::5/64\"]\n      routes:\n        - to: default\n"
         "          via: \"2001:db8::1\"\n        - to: default\n          via: 10.0.0.1\n          table: "
         "100\n"
         "        - to: 0.0.0.0/0\n          via: 10.0.0.2\n          metric: 200\n        - to: default\n"
         "          via: 10.0.0.3\n      routing-policy:\n        - from: 10.0.0.0/24\n          table: 100\n"
         "      nameservers:\n        search: [lab.example]\n        addresses: [10.0.0.53]\n",
         fixed,
         "network:\n  version: 2\n  ethernets:\n    eth0:\n      dhcp4: false\n"
         "      addresses: [\"2001:db8::5/64\", 192.168.1.10/24]\n      routes:\n        - to: default\n"
         "          via: \"2001:db8::1\"\n        - to: default\n          via: 10.0.0.1\n          table: "
         "100\n"
         "        - to: 0.0.0.0/0\n          via: 10.0.0.2\n          metric: 200\n        - to: default\n"
         "          via: 192.168.1.1\n      routing-policy:\n        - from: 10.0.0.0/24\n          table: "
         "100\n"
         "      nameservers:\n        search: [lab.example]\n        addresses: [9.9.9.9]\n"},
        {"entry_shared_through_an_alias_is_copied",
         "network:\n  ethernets:\n    eth1: &e\n      dhcp4: true\n    eth0: *e\n", fixed,
         "network:\n  ethernets:\n    eth1:\n      dhcp4: true\n    eth0:\n      dhcp4: false\n      "
         "addresses:\n"
         "        - 192.168.1.10/24\n      routes:\n        - to: default\n          via: 192.168.1.1\n"
         "      nameservers:\n        addresses:\n          - 9.9.9.9\n"},
        // Quoted texts stay quoted (netplan would read "::/0" bare in a flow map as an error, "on" as true),
        // and the flow style stays.
        {"flow_ipv6_route_and_quoted_texts_kept",
         "network:\n  ethernets:\n    eth0:\n      dhcp4: true\n      addresses: [\"2001:db8::5/64\"]\n"
         "      routes:\n        - {to: \"::/0\", via: \"2001:db8::1\"}\n      nameservers:\n"
         "        search: [\"on\", \"0\"]\n",
         fixed,
         "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n"
         "      addresses: [\"2001:db8::5/64\", 192.168.1.10/24]\n      routes:\n"
         "        - {to: \"::/0\", via: \"2001:db8::1\"}\n        - to: default\n          via: 192.168.1.1\n"
         "      nameservers:\n        search: [\"on\", \"0\"]\n        addresses:\n          - 9.9.9.9\n"},
        // An address with options: the new address keeps them.
        {"address_with_options_keeps_them",
         "network:\n  ethernets:\n    eth0:\n      addresses:\n"
         "        - \"10.0.0.5/24\": {label: \"eth0:mgmt\", lifetime: forever}\n        - 10.0.0.6/24\n",
         fixed,
         "network:\n  ethernets:\n    eth0:\n      addresses:\n"
         "        - \"192.168.1.10/24\": {label: \"eth0:mgmt\", lifetime: forever}\n        - 10.0.0.6/24\n"
         "      dhcp4: false\n      routes:\n        - to: default\n          via: 192.168.1.1\n"
         "      nameservers:\n        addresses:\n          - 9.9.9.9\n"},
        // Every address beside the managed one stays when a DHCP entry becomes static.
        {"dhcp_entry_with_addresses_to_static_keeps_each",
         "network:\n  ethernets:\n    eth0:\n      dhcp4: true\n      addresses:\n        - 10.0.0.5/24\n"
         "        - 10.0.0.6/24\n        - 10.0.0.7/24\n",
         fixed,
         "network:\n  ethernets:\n    eth0:\n      dhcp4: false\n      addresses:\n        - "
         "192.168.1.10/24\n"
         "        - 10.0.0.5/24\n        - 10.0.0.6/24\n        - 10.0.0.7/24\n      routes:\n"
         "        - to: default\n          via: 192.168.1.1\n      nameservers:\n        addresses:\n"
         "          - 9.9.9.9\n"},
    };
    return rows;
}

const std::vector<Stanza_Row>& get_Stanza_Rows()
{
    static const std::vector<Stanza_Row> rows = {
        // The inet6 stanza's address and gateway are neither read nor written.
        {"dual_stack_address_and_new_gateway",
         "auto eth0\niface eth0 inet static\n    hwaddress ether 02:00:00:00:00:01\n    address "
         "192.168.1.10\n"
         "    netmask 255.255.255.0\n" +
             dual_stack_inet6,
         {"1", "192.168.1.10", "255.255.255.0", ""},
         {{Type::IP_ADDRESS, "10.0.0.5"}, {Type::GATEWAY, "10.0.0.1"}},
         "auto eth0\niface eth0 inet static\n    hwaddress ether 02:00:00:00:00:01\n    address 10.0.0.5\n"
         "    netmask 255.255.255.0\n    gateway 10.0.0.1\n" +
             dual_stack_inet6,
         "hwaddress: 02:00:00:00:00:01\naddress: 10.0.0.5\nnetmask: 255.255.255.0\ngateway: 10.0.0.1\n" +
             inet6_parsed},
        {"dual_stack_dhcp_comments_only_inet",
         "auto eth0\niface eth0 inet static\n    address 192.168.1.10\n    netmask 255.255.255.0\n"
         "    gateway 192.168.1.1\n" +
             dual_stack_inet6,
         {"1", "192.168.1.10", "255.255.255.0", "192.168.1.1"},
         {{Type::MODE, dhcp_mode}},
         "auto eth0\niface eth0 inet dhcp\n    #address 192.168.1.10\n    #netmask 255.255.255.0\n"
         "    #gateway 192.168.1.1\n" +
             dual_stack_inet6,
         inet6_parsed},
        // An admin's old commented address stays a comment.
        {"static_restores_one_comment_per_missing_key",
         "iface eth0 inet dhcp\n    #address 192.168.1.99\n    #address 192.168.1.10\n    netmask "
         "255.255.255.0\n"
         "    #netmask 255.255.0.0\n",
         {"0", "", "255.255.255.0", ""},
         {{Type::MODE, static_mode}},
         "iface eth0 inet static\n    #address 192.168.1.99\n    address 192.168.1.10\n    netmask "
         "255.255.255.0\n"
         "    #netmask 255.255.0.0\n",
         "address: 192.168.1.10\nnetmask: 255.255.255.0\n"},
        {"tab_separated_options_and_up_commands",
         "auto eth0\niface eth0 inet static\n\taddress\t192.168.1.10\n\tnetmask\t255.255.255.0\n"
         "\tgateway\t192.168.1.1\n\tup ip address add 10.99.0.1/24 dev eth0\n",
         {"1", "192.168.1.10", "255.255.255.0", "192.168.1.1"},
         {{Type::IP_ADDRESS, "10.0.0.5"}, {Type::SUBNETMASK, "255.255.0.0"}, {Type::GATEWAY, "10.0.0.1"}},
         "auto eth0\niface eth0 inet "
         "static\n\taddress\t10.0.0.5\n\tnetmask\t255.255.0.0\n\tgateway\t10.0.0.1\n"
         "\tup ip address add 10.99.0.1/24 dev eth0\n",
         "address: 10.0.0.5\nnetmask: 255.255.0.0\ngateway: 10.0.0.1\nup: ip address add 10.99.0.1/24 dev "
         "eth0\n"},
        // Another interface's stanza and the CRLF line ends stay as they were.
        {"crlf_file_with_another_interface",
         "auto eth1\r\niface eth1 inet static\r\n    address 10.1.0.5\r\n    netmask 255.255.255.0\r\n\r\n"
         "iface eth0 inet dhcp\r\n",
         {"0", "", "", ""},
         {{Type::MODE, static_mode}, {Type::IP_ADDRESS, "10.0.0.5"}, {Type::SUBNETMASK, "255.255.255.0"}},
         "auto eth1\r\niface eth1 inet static\r\n    address 10.1.0.5\r\n    netmask 255.255.255.0\r\n\r\n"
         "iface eth0 inet static\r\n    address 10.0.0.5\r\n    netmask 255.255.255.0\r\n",
         "address: 10.0.0.5\nnetmask: 255.255.255.0\n"},
        // "address A/N" holds the mask: a new address keeps the prefix, a new mask replaces it.
        {"prefixed_address",
         "allow-hotplug eth0\niface eth0 inet static\n\taddress 10.0.0.5/24\n\tgateway 10.0.0.1\n",
         {"1", "10.0.0.5", "255.255.255.0", "10.0.0.1"},
         {{Type::IP_ADDRESS, "10.0.0.77"}, {Type::SUBNETMASK, "255.255.0.0"}},
         "allow-hotplug eth0\niface eth0 inet static\n\taddress 10.0.0.77/16\n\tgateway 10.0.0.1\n",
         "address: 10.0.0.77\ngateway: 10.0.0.1\nnetmask: 255.255.0.0\n"},
    };
    return rows;
}
