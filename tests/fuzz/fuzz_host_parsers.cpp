// Fuzz target for the parsers of host texts: routing-table lines, lsblk and
// /proc/meminfo lines, os-release, nmcli answers, stanza lines, staged values, the
// kernel's address and neighbour dumps, a settings trial's record, inotify
// reads and the netplan reader's exchange. None
// may crash, and what they hand back keeps its promises.
#include <stdlib.h>

#include <string>
#include <vector>

#include "config_file_handling.h"
#include "fuzz_input.h"
#include "gateway_check.h"
#include "host_events.h"
#include "log.h"
#include "netplan_reader.h"
#include "network.h"
#include "network_parse.h"
#include "settings_trial.h"
#include "system_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Fuzz_Input in(data, size);
    std::string text = in.get_Rest();
    std::string a, b;
    if (get_Report_Route(text, "eth0", &a, &b))
        get_Route_Address_Text(b);
    get_Route_Address_Text(text);
    System_Info::get_Disk_Line(text.c_str(), &a, &b);
    uint64_t total = 0;
    System_Info::get_Meminfo_Total_Line(text.c_str(), &total);
    get_Subnetmask_Bit_Count(text.c_str());
    get_Nmcli_Method_Auto(text);
    get_Nmcli_Address(text, &a);
    unsigned int prefix = 0;
    if (get_Nmcli_Prefix(text, &prefix) == Nmcli_Read::VALUE && prefix > 32)
        abort();
    get_Nmcli_Gateway(text, &a);
    get_Nmcli_DNS(text, 0, &a);
    get_Nmcli_DNS(text, 1, &a);
    for (const Nm_Profile& profile : get_Nmcli_Profiles(text))
        if (!get_Uuid_Valid(profile.uuid))
            abort();
    get_Nmcli_Field(text, "ipv4.addresses");
    get_Ifupdown_Line(text, "eth0");
    Network::Config staged;
    get_Network_Manager_Modify_Command(staged, "u", text);
    if (get_Subnetmask_Valid(text) && !get_IPv4_Address_Valid(text))
        abort();
    get_Static_Record_Missing(text, text, text);
    Config_File::get_Line_Value(text, "address", ' ', "hwaddress", false, &a);
    Config_File::get_Stanza_Value(text, "iface eth0 inet", "address", &a);
    Config_File::get_Stanza_Value(text, "iface eth0 inet", "", &a);
    get_Netlink_Addresses(text, 3);
    // A pin is only ever one of the two states that name it.
    std::string pin = get_Neighbour_Pin(get_Netlink_Neighbour_State(text, 3, 0x0100000a));
    if (!pin.empty() && pin != "permanent" && pin != "noarp")
        abort();
    if (get_Neighbour_Pin(get_Arp_Table_Neighbour_State(text, "eth0", 0x0100000a)) == "noarp")
        abort();
    get_Default_Gateway(text, "eth0");
    // A .network file, a networkctl answer, a stanza's port lines, a master answer, a server list.
    get_Networkd_Match(text, Interface_Facts{"eth0", "52:54:00:12:34:56", "veth"});
    for (uint8_t t = 0; t < 6; ++t)
        get_Networkd_Setting(text, static_cast<Network::CONFIG_TYPE>(t));
    get_Networkctl_File(text, &a);
    get_ifupdown_Master(text, "eth0");
    get_Nmcli_Master(text);
    const std::vector<std::string> servers = {text, "1.1.1.1", text};
    // DNS1 and DNS2 land first among the IPv4 servers; the list never grows by more than the two given.
    std::vector<std::string> merged = get_DNS_List_Merged(servers, "9.9.9.9", "8.8.8.8");
    if (get_DNS_IPv4_Server(merged, 0) != "9.9.9.9" || merged.size() > servers.size() + 2)
        abort();
    // A record that reads back is stored again as the same text.
    Trial_Record record;
    std::string error;
    if (get_Trial_Record(text, &record, &error)) {
        Trial_Record again;
        if (!get_Trial_Record(get_Trial_Text(record), &again, &error) ||
            get_Trial_Text(again) != get_Trial_Text(record))
            abort();
    }
    // An inotify read never yields a name longer than the bytes it came in.
    for (const Watch_Event& event :
         get_Watch_Events(reinterpret_cast<const uint8_t*>(text.data()), text.size()))
        if (event.name.size() > text.size())
            abort();
    // The netplan reader's exchange: what reads back is written again as the same text.
    Netplan_Reading reading;
    if (get_netplan_Reading_From(text, &reading) && get_netplan_Reading_Text(reading) != text)
        abort();
    std::vector<Netplan_File> files;
    Interface_Facts facts;
    if (get_netplan_Request(text, &files, &facts) && get_netplan_Request_Text(files, facts) != text)
        abort();
    // An os-release name is one line of text, never empty.
    const std::string os_name = System_Info::get_OS_Release_Name(text);
    if (os_name.empty())
        abort();
    for (unsigned char c : os_name)
        if (c < 0x20 || c == 0x7F)
            abort();
    // An escaped text holds no C0, DEL or C1 control character, raw (after an ASCII byte: no
    // continuation) or as UTF-8.
    const std::string shown = get_Log_Text(text);
    for (size_t i = 0; i < shown.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(shown[i]);
        unsigned char before = i > 0 ? static_cast<unsigned char>(shown[i - 1]) : 0;
        bool c1 = c >= 0x80 && c < 0xA0 && (before < 0x80 || before == 0xC2);
        if (c < 0x20 || c == 0x7F || c1)
            abort();
    }
    return 0;
}
