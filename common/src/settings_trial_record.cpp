// A settings trial's record as stored, and the judge of one look at the
// interface: pure functions the trial, its tests and the fuzzer share.
#include "settings_trial_record.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <sstream>

#include "file_replace.h"
#include "hex_text.h"
#include "log.h"
#include "network_parse.h"

namespace {

const char* const record_heading = "lumerion-hostd settings trial";
// Version 2 adds "unchecked" for a pinned gateway, the phase (in place of
// "applied") and each file's hash after the change wrote it; version 3 the
// change's steps with their marks. Older records, left by the version before
// an upgrade, are read as they are.
const unsigned int record_version = 3;
const unsigned int oldest_record_version = 1;
const char* const manager_word[] = {"unknown", "netplan", "ifupdown", "network_manager"};
// Indexed by Gateway_Answer.
const char* const answer_word[] = {"answered", "silent", "unchecked"};
// Indexed by Trial_Mark::STATE.
const char* const mark_word[] = {"pending", "started", "done"};

// A file line's fixed part: the key, the mode, owner and group, the blanks.
const size_t file_line_overhead = 64;
const size_t max_path_bytes = 4096;
const size_t max_keyfile_name_bytes = 255;

std::string get_Hex_Text(const std::string& bytes)
{
    if (bytes.empty())
        return "-";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes)
        append_Hex_Byte(&text, byte);
    return text;
}

bool get_Hex_Bytes(const std::string& text, std::string* bytes)
{
    bytes->clear();
    if (text == "-")
        return true;
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        int value = 0;
        for (size_t k = i; k < i + 2; ++k) {
            char c = text[k];
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        bytes->push_back(static_cast<char>(value));
    }
    return true;
}

std::string get_Word(const std::string& value)
{
    return value.empty() ? "-" : value;
}

std::string get_Value(const std::string& word)
{
    return word == "-" ? "" : word;
}

bool get_Unsigned(const std::string& word, int base, unsigned long long* value)
{
    if (word.empty() || word.size() > 20 || word.find_first_not_of("0123456789abcdef") != std::string::npos)
        return false;
    char* end = nullptr;
    errno = 0;
    *value = strtoull(word.c_str(), &end, base);
    return errno == 0 && end != nullptr && *end == '\0';
}

// A plain token of the record: an address, a UUID, a boot id.
bool get_Token_Plain(const std::string& word)
{
    return !word.empty() && word.size() <= 64 &&
           word.find_first_not_of("0123456789abcdefABCDEF.:/-") == std::string::npos;
}

// A stored hash: "-" (none yet), "absent", or sixteen hex digits.
bool get_Hash_Word(const std::string& word)
{
    return word == "-" || word == "absent" ||
           (word.size() == 16 && word.find_first_not_of("0123456789abcdef") == std::string::npos);
}

} // namespace

std::string get_Content_Hash(bool exists, const std::string& bytes)
{
    if (!exists)
        return "absent";
    // FNV-1a: a file changed by another writer is told from the change's own, not guarded against forgery.
    uint64_t hash = 14695981039346656037ULL;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    }
    char text[17];
    (void)snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

const size_t max_trial_text_size =
    4096 + max_trial_files * (2 * (max_path_bytes + max_config_file_size) + file_line_overhead) +
    max_trial_steps * (2 * max_trial_action_bytes + file_line_overhead) + 2 * max_path_bytes +
    max_trial_keyfiles * (2 * max_keyfile_name_bytes + 1);

std::string get_Trial_Text(const Trial_Record& record)
{
    std::ostringstream out;
    out << record_heading << "\n";
    out << "version " << record_version << "\n";
    out << "manager " << manager_word[static_cast<uint8_t>(record.manager) & 3] << "\n";
    out << "interface " << record.interface_name << "\n";
    out << "profile " << get_Word(record.profile_uuid) << " "
        << (record.profile_active ? "active" : "inactive") << "\n";
    out << "before " << get_Word(record.old_address) << " " << get_Word(record.old_gateway) << " "
        << answer_word[static_cast<uint8_t>(record.old_gateway_answer) % 3] << "\n";
    out << "phase "
        << (record.rolling_back ? "rolling-back"
            : record.applied    ? "applying"
                                : "writing")
        << "\n";
    out << "change " << (record.new_dhcp ? "dhcp" : "static") << " " << get_Word(record.new_address) << " "
        << get_Word(record.new_gateway) << "\n";
    out << "boot " << record.boot_id << "\n";
    out << "deadline " << record.deadline_ns << "\n";
    out << "window " << record.window_seconds << "\n";
    for (const Trial_File& file : record.files) {
        out << "file " << get_Hex_Text(file.path);
        if (!file.existed) {
            out << " absent " << get_Word(file.written_hash) << "\n";
            continue;
        }
        char mode[8];
        (void)snprintf(mode, sizeof(mode), "%04o", file.mode & 07777);
        out << " " << mode << " " << file.uid << " " << file.gid << " " << get_Hex_Text(file.bytes) << " "
            << get_Word(file.written_hash) << "\n";
    }
    if (!record.keyfile_directory.empty()) {
        out << "keyfiles " << get_Hex_Text(record.keyfile_directory);
        for (const std::string& name : record.keyfiles_before)
            out << " " << get_Hex_Text(name);
        out << "\n";
    }
    for (const Trial_Mark& step : record.steps)
        out << "step " << mark_word[static_cast<uint8_t>(step.state) % 3] << " " << get_Hex_Text(step.action)
            << "\n";
    out << "end\n";
    return out.str();
}

bool get_Trial_Record(const std::string& text, Trial_Record* record, std::string* error)
{
    Trial_Record parsed;
    std::istringstream in(text);
    std::string line;
    std::vector<std::string> keys;
    bool ended = false;
    unsigned int version = 0;
    auto fail = [error](const std::string& why) {
        *error = why;
        return false;
    };
    if (!std::getline(in, line) || line != record_heading)
        return fail("not a trial record");
    while (std::getline(in, line)) {
        if (ended)
            return fail("text after its end");
        std::vector<std::string> w;
        std::istringstream words(line);
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty())
            return fail("an empty line");
        const std::string& key = w[0];
        unsigned long long number = 0;
        if (key == "end" && w.size() == 1) {
            ended = true;
            continue;
        }
        if (key != "file" && key != "step" && std::find(keys.begin(), keys.end(), key) != keys.end())
            return fail("\"" + key + "\" twice");
        keys.push_back(key);
        if (key == "version" && w.size() == 2) {
            if (!get_Unsigned(w[1], 10, &number) || number < oldest_record_version || number > record_version)
                return fail("format version " + get_Log_Text(w[1]) + ", not " +
                            std::to_string(oldest_record_version) + " to " + std::to_string(record_version));
            version = static_cast<unsigned int>(number);
        } else if (key == "manager" && w.size() == 2) {
            auto found = std::find(std::begin(manager_word) + 1, std::end(manager_word), w[1]);
            if (found == std::end(manager_word))
                return fail("an unknown manager");
            parsed.manager = static_cast<Manager_Type>(found - std::begin(manager_word));
        } else if (key == "interface" && w.size() == 2 && get_Interface_Name_Valid(w[1])) {
            parsed.interface_name = w[1];
        } else if (key == "profile" && w.size() == 3 && (w[1] == "-" || get_Uuid_Valid(w[1])) &&
                   (w[2] == "active" || w[2] == "inactive")) {
            parsed.profile_uuid = get_Value(w[1]);
            parsed.profile_active = w[2] == "active";
        } else if (key == "before" && w.size() == 4 && get_Token_Plain(w[1]) && get_Token_Plain(w[2]) &&
                   std::find(std::begin(answer_word), std::end(answer_word), w[3]) != std::end(answer_word)) {
            parsed.old_address = get_Value(w[1]);
            parsed.old_gateway = get_Value(w[2]);
            parsed.old_gateway_answer = static_cast<Gateway_Answer>(
                std::find(std::begin(answer_word), std::end(answer_word), w[3]) - std::begin(answer_word));
        } else if (key == "applied" && version == 1 && w.size() == 2 && (w[1] == "yes" || w[1] == "no")) {
            parsed.applied = w[1] == "yes";
        } else if (key == "phase" && version >= 2 && w.size() == 2 &&
                   (w[1] == "writing" || w[1] == "applying" || w[1] == "rolling-back")) {
            parsed.applied = w[1] != "writing";
            parsed.rolling_back = w[1] == "rolling-back";
        } else if (key == "change" && w.size() == 4 && (w[1] == "dhcp" || w[1] == "static") &&
                   get_Token_Plain(w[2]) && get_Token_Plain(w[3])) {
            parsed.new_dhcp = w[1] == "dhcp";
            parsed.new_address = get_Value(w[2]);
            parsed.new_gateway = get_Value(w[3]);
        } else if (key == "boot" && w.size() == 2 && get_Token_Plain(w[1])) {
            parsed.boot_id = w[1];
        } else if (key == "deadline" && w.size() == 2 && get_Unsigned(w[1], 10, &number) &&
                   number < (1ULL << 62)) {
            parsed.deadline_ns = static_cast<long long>(number);
        } else if (key == "window" && w.size() == 2 && get_Unsigned(w[1], 10, &number) && number <= 86400) {
            parsed.window_seconds = static_cast<unsigned int>(number);
        } else if (key == "file" &&
                   (w.size() == (version >= 2 ? 4u : 3u) || w.size() == (version >= 2 ? 7u : 6u))) {
            Trial_File file;
            if (!get_Hex_Bytes(w[1], &file.path) || file.path.empty() || file.path.size() > max_path_bytes ||
                file.path[0] != '/' || file.path.find('\0') != std::string::npos)
                return fail("a file line with a bad path");
            if (w.size() <= 4 && w[2] != "absent")
                return fail("a malformed file line");
            if (version >= 2 && !get_Hash_Word(w.back()))
                return fail("a file line with a bad hash");
            if (version >= 2)
                file.written_hash = get_Value(w.back());
            if (w.size() >= 6) {
                unsigned long long mode = 0, uid = 0, gid = 0;
                if (!get_Unsigned(w[2], 8, &mode) || mode > 07777 || !get_Unsigned(w[3], 10, &uid) ||
                    !get_Unsigned(w[4], 10, &gid) || uid > 0xFFFFFFFFULL || gid > 0xFFFFFFFFULL ||
                    !get_Hex_Bytes(w[5], &file.bytes))
                    return fail("a malformed file line");
                file.existed = true;
                file.mode = static_cast<unsigned int>(mode);
                file.uid = static_cast<unsigned int>(uid);
                file.gid = static_cast<unsigned int>(gid);
            }
            parsed.files.push_back(file);
        } else if (key == "keyfiles" && version >= 3 && w.size() >= 2 && w.size() <= max_trial_keyfiles + 2) {
            if (!get_Hex_Bytes(w[1], &parsed.keyfile_directory) || parsed.keyfile_directory.empty() ||
                parsed.keyfile_directory[0] != '/' || parsed.keyfile_directory.size() > max_path_bytes)
                return fail("a keyfiles line with a bad directory");
            for (size_t k = 2; k < w.size(); ++k) {
                std::string name;
                if (!get_Hex_Bytes(w[k], &name) || name.empty() || name.size() > max_keyfile_name_bytes ||
                    name.find_first_of(std::string("/\0", 2)) != std::string::npos)
                    return fail("a keyfiles line with a bad name");
                parsed.keyfiles_before.push_back(name);
            }
        } else if (key == "step" && version >= 3 && w.size() == 3 &&
                   std::find(std::begin(mark_word), std::end(mark_word), w[1]) != std::end(mark_word)) {
            Trial_Mark step;
            step.state = static_cast<Trial_Mark::STATE>(
                std::find(std::begin(mark_word), std::end(mark_word), w[1]) - std::begin(mark_word));
            if (!get_Hex_Bytes(w[2], &step.action) || step.action.empty() ||
                step.action.size() > max_trial_action_bytes ||
                step.action.find_first_of(std::string("\n\0", 2)) != std::string::npos)
                return fail("a step line with a bad action");
            parsed.steps.push_back(step);
        } else {
            return fail("a malformed \"" + get_Log_Text(key) + "\" line");
        }
    }
    if (!ended)
        return fail("no end line: it was cut short");
    for (const char* needed : {"version", "manager", "interface", "profile", "before",
                               version == 1 ? "applied" : "phase", "change", "boot", "deadline", "window"})
        if (std::find(keys.begin(), keys.end(), needed) == keys.end())
            return fail(std::string("no \"") + needed + "\" line");
    if (version < 2 && parsed.old_gateway_answer == Gateway_Answer::UNCHECKED)
        return fail("\"unchecked\" in a version 1 record");
    if (parsed.files.size() > max_trial_files)
        return fail("more than " + std::to_string(max_trial_files) + " files");
    if (parsed.steps.size() > max_trial_steps)
        return fail("more than " + std::to_string(max_trial_steps) + " steps");
    *record = parsed;
    return true;
}

Trial_Step get_Trial_Step(const Trial_Record& record, const std::vector<Interface_Address>& addresses,
                          const std::string& live_gateway)
{
    Trial_Step step;
    const std::string& name = record.interface_name;
    auto address_of = [](const Interface_Address& held) { return held.cidr.substr(0, held.cidr.find('/')); };
    if (record.new_dhcp) {
        auto lease = std::find_if(addresses.begin(), addresses.end(),
                                  [](const Interface_Address& held) { return held.leased; });
        if (lease == addresses.end()) {
            step.waiting_for = "a DHCP lease on " + name;
            step.failure = name + " got no DHCP lease";
            return step;
        }
        step.source = address_of(*lease);
        step.gateway = live_gateway;
        if (step.gateway.empty()) {
            // The lease's route may follow its address: a lease that offers no router is known only at the
            // end.
            step.waiting_for = "a default route on " + name + " from its lease " + lease->cidr;
            step.kept =
                name + " holds the lease " + lease->cidr + ", which offers no router: the change is kept";
            return step;
        }
    } else {
        bool held = std::any_of(addresses.begin(), addresses.end(), [&](const Interface_Address& address) {
            return address_of(address) == record.new_address;
        });
        if (!held) {
            step.waiting_for = name + " to hold " + record.new_address;
            step.failure = name + " did not hold " + record.new_address;
            return step;
        }
        step.source = record.new_address;
        step.gateway = record.new_gateway;
    }
    if (step.gateway.empty()) {
        step.kind = Trial_Step::KIND::KEEP;
        return step;
    }
    step.kind = Trial_Step::KIND::PROBE;
    step.waiting_for = "gateway " + step.gateway + " to answer";
    step.failure = "gateway " + step.gateway + " did not answer";
    return step;
}
