// The ifupdown back end: the interface's stanza file, read and edited at
// once. Only the lines of its "iface <name> inet" stanza are IPv4 settings;
// an inet6 stanza, other interfaces and commands such as "up ip address ..."
// are never read or changed.
#include <string.h>

#include "config_file_handling.h"
#include "file_replace.h"
#include "log.h"
#include "network.h"
#include "text_copy.h"

namespace {

const char* const __log_tag = "Network";
// The stanza file always exists when ifupdown is chosen; this is only the mode rule's fallback.
const mode_t stanza_file_mode = 0644;

// The stanza key of a setting; empty for settings the stanza does not hold.
std::string get_Stanza_Key(Network::CONFIG_TYPE type)
{
    switch (type) {
    case Network::CONFIG_TYPE::IP_ADDRESS:
        return "address";
    case Network::CONFIG_TYPE::GATEWAY:
        return "gateway";
    case Network::CONFIG_TYPE::SUBNETMASK:
        return "netmask";
    default:
        return "";
    }
}

std::string get_Inet_Header(const std::string& interface_name)
{
    return "iface " + interface_name + " inet";
}

} // namespace

bool get_ifupdown_Update_Text(const std::string& content, const std::string& interface_name,
                              Network::CONFIG_TYPE type, const std::string& value, std::string* text,
                              std::string* reason)
{
    std::string header = get_Inet_Header(interface_name);
    *text = content;
    if (type == Network::CONFIG_TYPE::MODE) {
        bool set_static = !value.empty() && value[0] != 0;
        const char* method = set_static ? "static" : "dhcp";
        // A file that only holds "auto" or an inet6 stanza gets its inet stanza.
        if (!Config_File::set_Stanza_Value(text, header, "", method)) {
            if (!text->empty() && text->back() != '\n')
                *text += "\n";
            *text += header + " " + method + "\n";
        }
        // The static values survive DHCP as comments and come back with static.
        for (const char* key : {"address", "netmask", "gateway"})
            Config_File::set_Stanza_Comment(text, header, key, !set_static);
        return true;
    }
    std::string key = get_Stanza_Key(type);
    // DNS servers have no place in a stanza.
    if (key.empty())
        return true;
    if (!Config_File::set_Stanza_Value(text, header, key, value)) {
        *reason = "no \"" + header + "\" stanza";
        return false;
    }
    return true;
}

uint8_t Network::get_ifupdown_Config(CONFIG_TYPE type, const char* path, char* buffer,
                                     unsigned int buffer_length)
{
    std::string content;
    std::string value;
    std::string header = get_Inet_Header(config.target_interface);
    std::string why;
    // An unreadable stanza reads as empty values and static mode.
    if (!get_File_Content(path, &content, &why))
        LOG_ERROR_AS("get_Config", "cannot read %s: %s", path, why.c_str());
    if (type == CONFIG_TYPE::MODE) {
        Config_File::get_Stanza_Value(content, header, "", &value);
        buffer[0] = value.find("dhcp") != std::string::npos ? 0 : 1;
        return 0;
    }
    std::string key = get_Stanza_Key(type);
    // DNS servers have no place in a stanza: the caller's buffer stays as it is.
    if (key.empty())
        return 0;
    Config_File::get_Stanza_Value(content, header, key, &value);
    set_Fixed_Length_Copy(buffer, buffer_length, value);
    return 0;
}

uint8_t Network::set_ifupdown_Config(CONFIG_TYPE type, const char* path, const char* str)
{
    std::string content;
    std::string reason;
    if (!get_File_Content(path, &content, &reason)) {
        LOG_ERROR_AS("set_Config", "cannot read %s: %s", path, reason.c_str());
        return 1;
    }
    std::string text;
    std::string value = type == CONFIG_TYPE::MODE ? std::string(1, str[0]) : std::string(str);
    if (!get_ifupdown_Update_Text(content, config.target_interface, type, value, &text, &reason)) {
        LOG_ERROR_AS("set_Config", "%s left as it was: %s", path, reason.c_str());
        return 1;
    }
    if (text == content)
        return 0;
    int rc = set_File_Replace(path, text, stanza_file_mode);
    if (rc != 0) {
        LOG_ERROR_AS("set_Config", "cannot replace %s: %s", path, strerror(rc));
        return 1;
    }
    return 0;
}
