#ifndef LUMERION_NETWORK_NETPLAN_YAML_H
#define LUMERION_NETWORK_NETPLAN_YAML_H

#include <stddef.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "network_types.h"

// The YAML side of netplan's back end, shared by its reading and its edit:
// what a value in a netplan document means to the daemon, and the checks
// that a document can be rewritten as it stands.

// A value in the file that the daemon cannot use (a "dhcp4" that is not a
// boolean, an address entry that is not a text, a prefix out of range).
class Value_Error : public std::runtime_error {
public:
    explicit Value_Error(const std::string& what) : std::runtime_error(what) {}
};

// A level of the document that must hold a map (or nothing yet): indexing a
// sequence or scalar by key would turn it into a map or throw.
void check_Map_Or_Absent(const YAML::Node& node, const char* what);

// A missing key gives an invalid node, whose type cannot even be asked.
bool is_Scalar(const YAML::Node& node);

bool is_Sequence(const YAML::Node& node);

bool is_Map(const YAML::Node& node);

std::string get_Scalar_Text(const YAML::Node& node, const char* what);

// An entry's "nameservers.addresses", in order.
std::vector<std::string> get_Server_List(const YAML::Node& entry);

// An "addresses" entry's address: the entry itself, or the one key of netplan's form with options
// ("10.0.0.5/24": {label: ..., lifetime: ...}); Value_Error naming the key for anything else.
std::string get_Address_Text(const YAML::Node& node);

// The first IPv4 entry of "addresses" ("" when there is none).
std::string get_IPv4_Entry(const YAML::Node& entry, const std::regex& ipv4_regex);

unsigned int get_Prefix_Length(const std::string& entry);

// An "addresses" entry the daemon wrote from an incomplete record ("/24" for
// an empty address, "x/0" for an empty mask): no host can use it.
bool get_Broken_Address_Entry(const std::string& text);

// How the edit sees one route; throws for a route it cannot read.
struct Route_View {
    std::string to;
    std::string via; // empty when absent or not a text
    bool via_text;
    bool main_default; // "default" or "0.0.0.0/0" in the main table
    bool metric;
};

Route_View get_Route_View(const YAML::Node& route);

// The routes the daemon owns: its own IPv4 default route (in static mode also
// one spelt 0.0.0.0/0, which would clash with it: same table and metric), and
// the empty-via default route it once wrote from a record without a gateway.
bool get_Owned_Route(const Route_View& view, bool dhcp);

// The gateway read back from the entry: "gateway4", then the main-table IPv4
// default route; empty when neither names one.
std::string get_Entry_Gateway(const YAML::Node& entry);

// The YAML reader takes a NUL for an escape and turns each byte of a broken
// UTF-8 sequence into U+FFFD, so such a document would not be written back as
// it stands (two keys could even become one). netplan refuses it too.
bool get_Document_Text_Valid(const std::string& text);

// A text with a control character other than a tab or a line break does not survive the
// YAML writer unchanged (a carriage return is lost on each rewrite).
void check_Plain_Text(const YAML::Node& node);

// A key given twice makes a document ambiguous: an edit would change one of
// them and leave the other; a text the writer cannot keep would change.
// Checked through the whole document.
void check_Unique_Keys(const YAML::Node& node, size_t* visited, int depth = 0);

// A copy of the map with `key`'s value cloned, so that an entry shared with
// another interface through a YAML alias is edited alone.
YAML::Node get_Unshared_Map(const YAML::Node& map, const std::string& key);

// The text of one passthrough key ("" when the block does not set it).
std::string get_Passthrough_Text(const YAML::Node& block, const char* key);

// The lowest-numbered "ipv4.addressN" of a passthrough block ("A/N" or "A/N,GW"; "" for none).
std::string get_Passthrough_Address(const YAML::Node& block);

// The "networkmanager.passthrough" block of a definition (an invalid node for none).
YAML::Node get_Passthrough_Block(const YAML::Node& entry);

bool get_Passthrough_Node_Setting(const YAML::Node& entry, Config_Type type, std::string* value);

// The document as text that netplan reads back as the same values: a scalar quoted in the file stays
// quoted (the writer would drop its quotes, and "on", "0" or "::/0" would then read as something else),
// and one that holds a ':' or a '#' is quoted wherever it came from; the rest keeps the file's style.
std::string get_Document_Text(const YAML::Node& document);

// The merged document parsed once for the six settings a lookup reads from it (each thread keeps its
// own last one); a document that does not parse throws each time, as YAML::Load does.
YAML::Node get_Document_Node(const std::string& text);

#endif
