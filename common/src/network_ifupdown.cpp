// The ifupdown back end: the interface's stanza file, read and edited at
// once through the key-value editor.
#include <stdio.h>
#include <string.h>

#include "config_file_handling.h"
#include "network.h"

namespace {

const size_t value_buffer_length = 128;
const size_t mode_key_length = 32;
const char token = ' ';
const char* const address_ignore = "hwaddress";

struct Stanza_Key {
    const char* key;
    const char* ignore;
};

// The stanza key of a setting; null key for settings the stanza does not hold.
Stanza_Key get_Stanza_Key(Network::CONFIG_TYPE type)
{
    switch (type) {
    case Network::CONFIG_TYPE::IP_ADDRESS:
        return {"address", address_ignore};
    case Network::CONFIG_TYPE::GATEWAY:
        return {"gateway", nullptr};
    case Network::CONFIG_TYPE::SUBNETMASK:
        return {"netmask", nullptr};
    default:
        return {nullptr, nullptr};
    }
}

} // namespace

uint8_t Network::get_ifupdown_Config(CONFIG_TYPE type, const char* path, char* buffer,
                                     unsigned int buffer_length)
{
    char value[value_buffer_length];
    memset(value, 0, sizeof(value));
    if (type == CONFIG_TYPE::MODE) {
        char key[mode_key_length];
        snprintf(key, sizeof(key), "iface %s inet", config.target_interface.c_str());
        Config_File::get_Data(path, key, value, sizeof(value), token, nullptr, false);
        buffer[0] = strstr(value, "dhcp") != nullptr ? 0 : 1;
        return 0;
    }
    Stanza_Key stanza = get_Stanza_Key(type);
    // DNS servers have no place in a stanza: the caller's buffer stays as it is.
    if (stanza.key == nullptr)
        return 0;
    Config_File::get_Data(path, stanza.key, value, sizeof(value), token, stanza.ignore, false);
    set_Buffer_Copy(buffer, buffer_length, std::string(value, strnlen(value, sizeof(value))));
    return 0;
}

uint8_t Network::set_ifupdown_Config(CONFIG_TYPE type, const char* path, const char* str)
{
    if (type == CONFIG_TYPE::MODE) {
        char key[mode_key_length];
        snprintf(key, sizeof(key), "iface %s inet", config.target_interface.c_str());
        bool set_static = str[0] != 0;
        Config_File::set_Data(path, key, set_static ? "static" : "dhcp", token, nullptr);
        // The static values survive DHCP as comments and come back with static.
        for (CONFIG_TYPE kept : {CONFIG_TYPE::IP_ADDRESS, CONFIG_TYPE::SUBNETMASK, CONFIG_TYPE::GATEWAY}) {
            Stanza_Key stanza = get_Stanza_Key(kept);
            Config_File::set_Data_Comment(path, stanza.key, !set_static, token, stanza.ignore);
        }
        return 0;
    }
    Stanza_Key stanza = get_Stanza_Key(type);
    if (stanza.key == nullptr)
        return 0;
    Config_File::set_Data_Comment(path, stanza.key, false, token, stanza.ignore);
    Config_File::set_Data(path, stanza.key, str, token, stanza.ignore);
    return 0;
}
