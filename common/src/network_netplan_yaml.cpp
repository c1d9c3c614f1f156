// What a value in a netplan document means to the daemon, and whether a
// document can be rewritten as it stands.
#include "network_netplan_yaml.h"

#include <limits.h>
#include <stdint.h>

#include <algorithm>
#include <set>

#include "file_replace.h"
#include "network_parse.h"

// A level of the document that must hold a map (or nothing yet): indexing a
// sequence or scalar by key would turn it into a map or throw.
void check_Map_Or_Absent(const YAML::Node& node, const char* what)
{
    if (node.IsDefined() && !node.IsMap() && !node.IsNull())
        throw Value_Error(std::string(what) + " is not a map");
}

// A missing key gives an invalid node, whose type cannot even be asked.
bool is_Scalar(const YAML::Node& node)
{
    return node.IsDefined() && node.IsScalar();
}
bool is_Sequence(const YAML::Node& node)
{
    return node.IsDefined() && node.IsSequence();
}
bool is_Map(const YAML::Node& node)
{
    return node.IsDefined() && node.IsMap();
}

std::string get_Scalar_Text(const YAML::Node& node, const char* what)
{
    if (!is_Scalar(node))
        throw Value_Error(std::string(what) + " is not a text");
    return node.as<std::string>();
}

// An entry's "nameservers.addresses", in order.
std::vector<std::string> get_Server_List(const YAML::Node& entry)
{
    std::vector<std::string> list;
    const YAML::Node nameservers = is_Map(entry) ? entry["nameservers"] : YAML::Node();
    const YAML::Node servers = is_Map(nameservers) ? nameservers["addresses"] : YAML::Node();
    if (is_Sequence(servers))
        for (YAML::const_iterator it = servers.begin(); it != servers.end(); ++it)
            list.push_back(get_Scalar_Text(*it, "nameservers.addresses: an entry"));
    return list;
}

std::string get_Address_Text(const YAML::Node& node)
{
    if (is_Scalar(node))
        return node.Scalar();
    if (is_Map(node) && node.size() == 1 && is_Scalar(node.begin()->first) &&
        (is_Map(node.begin()->second) || node.begin()->second.IsNull()))
        return node.begin()->first.Scalar();
    throw Value_Error("addresses: an entry is neither an address nor an address with its options");
}

// The first IPv4 entry of "addresses" ("" when there is none).
std::string get_IPv4_Entry(const YAML::Node& entry, const std::regex& ipv4_regex)
{
    const YAML::Node addresses = entry["addresses"];
    if (!is_Sequence(addresses))
        return "";
    for (YAML::const_iterator it = addresses.begin(); it != addresses.end(); ++it) {
        std::string text = get_Address_Text(*it);
        if (std::regex_match(text, ipv4_regex))
            return text;
    }
    return "";
}

unsigned int get_Prefix_Length(const std::string& entry)
{
    size_t slash = entry.find('/');
    std::string digits = entry.substr(slash + 1);
    if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(digits) > 32)
        throw Value_Error("addresses: the prefix length of " + entry + " is not 0 to 32");
    return static_cast<unsigned int>(std::stoul(digits));
}

// An "addresses" entry the daemon wrote from an incomplete record ("/24" for
// an empty address, "x/0" for an empty mask): no host can use it.
bool get_Broken_Address_Entry(const std::string& text)
{
    return text.empty() || text[0] == '/' ||
           (text.size() >= 2 && text.compare(text.size() - 2, 2, "/0") == 0);
}

Route_View get_Route_View(const YAML::Node& route)
{
    if (!is_Map(route))
        throw Value_Error("routes: an entry is not a map");
    Route_View view;
    view.to = get_Scalar_Text(route["to"], "routes: an entry's to");
    view.via_text = is_Scalar(route["via"]);
    view.via = view.via_text ? route["via"].as<std::string>() : "";
    view.main_default = (view.to == "default" || view.to == "0.0.0.0/0") && !route["table"].IsDefined();
    view.metric = route["metric"].IsDefined();
    return view;
}

// The routes the daemon owns: its own IPv4 default route (in static mode also
// one spelt 0.0.0.0/0, which would clash with it: same table and metric), and
// the empty-via default route it once wrote from a record without a gateway.
bool get_Owned_Route(const Route_View& view, bool dhcp)
{
    if (!view.main_default || view.metric)
        return false;
    if (view.via_text && view.via.empty())
        return true;
    return get_IPv4_Address_Valid(view.via) && (view.to == "default" || !dhcp);
}

// The gateway read back from the entry: "gateway4", then the main-table IPv4
// default route; empty when neither names one.
std::string get_Entry_Gateway(const YAML::Node& entry)
{
    const YAML::Node gateway = entry["gateway4"];
    if (is_Scalar(gateway))
        return gateway.as<std::string>();
    const YAML::Node routes = entry["routes"];
    if (!is_Sequence(routes))
        return "";
    for (YAML::const_iterator it = routes.begin(); it != routes.end(); ++it) {
        Route_View view = get_Route_View(*it);
        if (view.main_default && get_IPv4_Address_Valid(view.via))
            return view.via;
    }
    return "";
}

// The YAML reader takes a NUL for an escape and turns each byte of a broken
// UTF-8 sequence into U+FFFD, so such a document would not be written back as
// it stands (two keys could even become one). netplan refuses it too.
bool get_Document_Text_Valid(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t point = 0;
        if (c == 0)
            return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            point = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            point = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            point = c & 0x07u;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3Fu);
        }
        // Overlong forms, UTF-16 surrogates and points past U+10FFFF.
        if ((length == 3 && point < 0x800) || (length == 4 && point < 0x10000) ||
            (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

// A text with a control character other than a tab or a line break does not survive the
// YAML writer unchanged (a carriage return is lost on each rewrite).
void check_Plain_Text(const YAML::Node& node)
{
    if (!node.IsScalar())
        return;
    for (unsigned char c : node.Scalar())
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F)
            throw Value_Error("a text holds a control character");
}

// A key given twice makes a document ambiguous: an edit would change one of
// them and leave the other; a text the writer cannot keep would change.
// Checked through the whole document.
void check_Unique_Keys(const YAML::Node& node, size_t* visited, int depth)
{
    // Far beyond any netplan document; aliases can multiply a small file.
    if (depth > 64 || ++*visited > 100000)
        throw Value_Error("the document nests too deep or holds too many nodes");
    check_Plain_Text(node);
    if (node.IsSequence())
        for (YAML::const_iterator it = node.begin(); it != node.end(); ++it)
            check_Unique_Keys(*it, visited, depth + 1);
    if (!node.IsMap())
        return;
    std::set<std::string> keys;
    for (YAML::const_iterator it = node.begin(); it != node.end(); ++it) {
        check_Plain_Text(it->first);
        std::string key = it->first.IsScalar() ? it->first.Scalar() : "";
        if (it->first.IsScalar() && !keys.insert(key).second)
            throw Value_Error("key " + key + " is given twice");
        check_Unique_Keys(it->second, visited, depth + 1);
    }
}

// A copy of the map with `key`'s value cloned, so that an entry shared with
// another interface through a YAML alias is edited alone.
YAML::Node get_Unshared_Map(const YAML::Node& map, const std::string& key)
{
    YAML::Node copy(YAML::NodeType::Map);
    copy.SetTag(map.Tag());
    for (YAML::const_iterator it = map.begin(); it != map.end(); ++it)
        copy[it->first] =
            it->first.IsScalar() && it->first.Scalar() == key ? YAML::Clone(it->second) : it->second;
    return copy;
}

// The text of one passthrough key ("" when the block does not set it).
std::string get_Passthrough_Text(const YAML::Node& block, const char* key)
{
    const YAML::Node value = block[key];
    return is_Scalar(value) ? value.Scalar() : "";
}

// The lowest-numbered "ipv4.addressN" of a passthrough block ("A/N" or "A/N,GW"; "" for none).
std::string get_Passthrough_Address(const YAML::Node& block)
{
    std::string first;
    unsigned long lowest = ULONG_MAX;
    for (YAML::const_iterator it = block.begin(); it != block.end(); ++it) {
        std::string key = it->first.IsScalar() ? it->first.Scalar() : "";
        if (key.compare(0, 12, "ipv4.address") != 0 || key.size() == 12 ||
            key.find_first_not_of("0123456789", 12) != std::string::npos || !is_Scalar(it->second))
            continue;
        unsigned long number = strtoul(key.c_str() + 12, nullptr, 10);
        if (number < lowest) {
            lowest = number;
            first = it->second.Scalar();
        }
    }
    return first;
}

// The "networkmanager.passthrough" block of a definition (an invalid node for none).
YAML::Node get_Passthrough_Block(const YAML::Node& entry)
{
    const YAML::Node manager = is_Map(entry) ? entry["networkmanager"] : YAML::Node();
    const YAML::Node block = is_Map(manager) ? manager["passthrough"] : YAML::Node();
    return is_Map(block) ? block : YAML::Node(YAML::NodeType::Undefined);
}

bool get_Passthrough_Node_Setting(const YAML::Node& entry, Config_Type type, std::string* value)
{
    const YAML::Node block = get_Passthrough_Block(entry);
    if (!block.IsDefined())
        return false;
    std::string address = get_Passthrough_Address(block);
    size_t slash = address.find('/');
    size_t comma = address.find(',');
    switch (type) {
    case Config_Type::MODE:
        *value = get_Passthrough_Text(block, "ipv4.method");
        if (value->empty())
            return false;
        *value = *value == "auto" ? "0" : "1";
        return true;
    case Config_Type::IP_ADDRESS:
        *value = address.substr(0, std::min(slash, comma));
        return !address.empty();
    case Config_Type::SUBNETMASK: {
        if (address.empty())
            return false;
        std::string digits = slash == std::string::npos ? "" : address.substr(slash + 1, comma - slash - 1);
        bool prefix = !digits.empty() && digits.size() <= 2 &&
                      digits.find_first_not_of("0123456789") == std::string::npos && std::stoi(digits) <= 32;
        *value = prefix ? get_Prefix_Subnetmask_Text(static_cast<unsigned int>(std::stoi(digits))) : "";
        return true;
    }
    case Config_Type::GATEWAY:
        *value = get_Passthrough_Text(block, "ipv4.gateway");
        if (value->empty() && comma != std::string::npos)
            *value = address.substr(comma + 1);
        return !value->empty();
    case Config_Type::DNS1:
    case Config_Type::DNS2: {
        std::string servers = get_Passthrough_Text(block, "ipv4.dns");
        if (servers.empty())
            return false;
        std::vector<std::string> list;
        std::istringstream in(servers);
        for (std::string server; std::getline(in, server, ';');)
            if (!server.empty())
                list.push_back(server);
        *value = get_DNS_IPv4_Server(list, type == Config_Type::DNS1 ? 0 : 1);
        return true;
    }
    }
    return false;
}

// The merged document parsed once for the six settings a lookup reads from it (each thread keeps its
// own last one); a document that does not parse throws each time, as YAML::Load does.
YAML::Node get_Document_Node(const std::string& text)
{
    thread_local std::string parsed_text;
    thread_local YAML::Node parsed;
    thread_local bool held = false;
    if (!held || parsed_text != text) {
        held = false;
        parsed = YAML::Load(text);
        parsed_text = text;
        held = true;
    }
    return parsed;
}

namespace {

// An alias is written out as the values it stands for; one inside its own anchor would never end.
void emit_Node(YAML::Emitter& out, const YAML::Node& node, int depth = 0)
{
    if (depth > 64)
        throw Value_Error("the document nests too deep or refers to itself");
    const std::string& tag = node.Tag();
    if (!tag.empty() && tag != "?" && tag != "!")
        out << YAML::VerbatimTag(tag);
    switch (node.Type()) {
    case YAML::NodeType::Scalar:
        // "!" is the reader's mark of a quoted scalar.
        if (tag == "!" || node.Scalar().find_first_of(":#") != std::string::npos)
            out << YAML::DoubleQuoted;
        out << node.Scalar();
        return;
    case YAML::NodeType::Sequence:
        out << (node.Style() == YAML::EmitterStyle::Flow ? YAML::Flow : YAML::Block) << YAML::BeginSeq;
        for (YAML::const_iterator it = node.begin(); it != node.end(); ++it)
            emit_Node(out, *it, depth + 1);
        out << YAML::EndSeq;
        return;
    case YAML::NodeType::Map:
        out << (node.Style() == YAML::EmitterStyle::Flow ? YAML::Flow : YAML::Block) << YAML::BeginMap;
        for (YAML::const_iterator it = node.begin(); it != node.end(); ++it) {
            out << YAML::Key;
            emit_Node(out, it->first, depth + 1);
            out << YAML::Value;
            emit_Node(out, it->second, depth + 1);
        }
        out << YAML::EndMap;
        return;
    case YAML::NodeType::Null:
    case YAML::NodeType::Undefined:
        out << YAML::Null;
        return;
    }
}

} // namespace

std::string get_Document_Text(const YAML::Node& document)
{
    YAML::Emitter out;
    emit_Node(out, document);
    if (!out.good())
        throw Value_Error(std::string("the document cannot be written: ") + out.GetLastError());
    // Aliases written out whole could make a file too large to be read back.
    if (out.size() >= max_config_file_size)
        throw Value_Error("the new document would be over 1 MiB");
    return std::string(out.c_str()) + "\n";
}
