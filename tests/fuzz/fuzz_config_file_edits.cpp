// Fuzz target for the key-value and stanza editors: lines without the key
// come out byte for byte, a value set reads back, and setting it again
// changes nothing; another interface's stanza is never touched.
#include <stdlib.h>

#include <string>
#include <vector>

#include "config_file_handling.h"
#include "fuzz_input.h"

namespace {

const char* const keys[] = {"address", "netmask", "gateway", "iface eth0 inet", "mtu"};

std::vector<std::string> get_Lines_Without(const std::string& content, const std::string& search)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        size_t next = end == std::string::npos ? content.size() : end + 1;
        std::string line = content.substr(start, next - start);
        if (line.find(search) == std::string::npos)
            lines.push_back(line);
        start = next;
    }
    return lines;
}

// A value as a BMC would send it: one word, no line end.
std::string get_Word(const std::string& text)
{
    std::string word;
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ' && c != '#' && c != 0x7F)
            word += c;
    return word.empty() ? "10.0.0.5" : word;
}

void check_Key_Value(const std::string& content, const std::string& key, const std::string& value)
{
    bool replaced = false;
    std::string edited = Config_File::set_Data_Text(content, key, value, ' ', nullptr, &replaced);
    if (!replaced) {
        // A missing key is appended on a line of its own and nothing else changes.
        if (edited != content + "\n" + key + " " + value)
            abort();
        return;
    }
    if (get_Lines_Without(content, key + " ") != get_Lines_Without(edited, key + " "))
        abort();
    bool again = false;
    if (Config_File::set_Data_Text(edited, key, value, ' ', nullptr, &again) != edited || !again)
        abort();
}

void check_Stanza(const std::string& content, const std::string& key, const std::string& value, bool comment)
{
    const std::string header = "iface eth0 inet";
    std::string other_before;
    bool other = Config_File::get_Stanza_Value(content, "iface eth1 inet", key, &other_before);
    std::string edited = content;
    if (!Config_File::set_Stanza_Value(&edited, header, key, value)) {
        if (edited != content)
            abort();
        return;
    }
    std::string read;
    if (!Config_File::get_Stanza_Value(edited, header, key, &read) || read != value)
        abort();
    std::string twice = edited;
    if (!Config_File::set_Stanza_Value(&twice, header, key, value) || twice != edited)
        abort();
    Config_File::set_Stanza_Comment(&twice, header, key, comment);
    std::string other_after;
    if (other != Config_File::get_Stanza_Value(edited, "iface eth1 inet", key, &other_after) ||
        other_before != other_after)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Fuzz_Input in(data, size);
    uint8_t choice = in.get_Byte();
    std::string key = keys[choice % 5];
    std::string value = get_Word(in.get_Text());
    std::string content = in.get_Rest();
    check_Key_Value(content, key, value);
    check_Stanza(content, key == "iface eth0 inet" ? "" : key, value, choice & 0x80);
    return 0;
}
