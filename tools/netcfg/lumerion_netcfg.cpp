// lumerion-netcfg: the operator's way to eth0's network settings on the host.
// "show" prints what the daemon reads; "set" builds the BMC's network-settings
// packets and hands each to the daemon's own settings handler, so a change
// made here takes exactly the path a change from the BMC takes.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "BMC_data_protocol.h"
#include "change_plan.h"
#include "I2C_BMC_packet_thread.h"
#include "log.h"
#include "netplan_reader.h"
#include "network.h"
#include "change_executor.h"
#include "gateway_check.h"
#include "settings_trial.h"

namespace {

const char* const interface_name = "eth0";

const char* const usage_text =
    "usage: lumerion-netcfg show\n"
    "       lumerion-netcfg set [--dhcp | --static] [--address A] [--netmask M] [--gateway G]\n"
    "                           [--dns1 D] [--dns2 D] [--hostname H] [--apply [--check-seconds N]]\n"
    "       lumerion-netcfg --help\n"
    "\n"
    "show  prints the manager that owns eth0 and its six settings as the daemon reads them.\n"
    "set   stages the given settings, applies them with --apply, and sets the hostname,\n"
    "      through the same handler as the BMC's network-settings packets.\n"
    "      After --apply, eth0 must hold its address and reach its gateway within\n"
    "      N seconds (default 60), else the old settings are put back; 0 skips the check.\n"
    "Exit status: 0 done; 1 a value or the apply was refused, or a tool failed; 2 usage error;\n"
    "             3 the change did not hold and was rolled back;\n"
    "             4 the rollback failed: eth0 may be off its old settings, check the host;\n"
    "             130 interrupted (after the step in progress finished; nothing after it runs).\n";

const unsigned int max_check_seconds = 3600;

// One packet of the BMC's: its item and its value.
struct Item {
    uint8_t subaddress;
    std::string text; // a text item, or one byte for the mode and the apply
    bool byte;
    std::string option; // the option that asked for it, as the operator wrote it
};

// Set by Ctrl-C (or SIGTERM) during "set": the change in progress finishes first.
volatile sig_atomic_t interrupted = 0;

void note_Interrupt(int)
{
    interrupted = 1;
}

bool get_Interrupted()
{
    return interrupted != 0;
}

// The trial's wait, shown: a countdown on a terminal, one line otherwise.
bool progress_shown = false;
bool countdown_open = false;

// Ends the countdown's line, so that the next line starts on its own.
void end_Countdown()
{
    if (countdown_open)
        (void)fputc('\n', stderr);
    countdown_open = false;
}

void show_Trial_Progress(const std::string& waiting_for, unsigned int seconds_left)
{
    if (waiting_for.empty()) {
        end_Countdown();
        return;
    }
    if (isatty(STDERR_FILENO)) {
        countdown_open = true;
        (void)fprintf(stderr, "\rlumerion-netcfg: waiting for %s: %u s left \033[K", waiting_for.c_str(),
                      seconds_left);
    } else if (!progress_shown) {
        (void)fprintf(stderr, "lumerion-netcfg: checking the change for up to %u s: waiting for %s\n",
                      seconds_left, waiting_for.c_str());
    }
    progress_shown = true;
}

int fail_Usage(const std::string& why)
{
    (void)fprintf(stderr, "lumerion-netcfg: %s\n%s", why.c_str(), usage_text);
    return 2;
}

// The "set" options in the order a BMC sends them: mode, address, mask,
// gateway, DNS, apply, hostname. False with `why` on a usage error.
bool get_Set_Items(const std::vector<std::string>& args, std::vector<Item>* items, int* check_seconds,
                   std::string* why)
{
    const std::pair<const char*, uint8_t> text_options[] = {
        {"--address", BMC::SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS},
        {"--netmask", BMC::SUBADDRESS_NETWORK_CONFIG_SUBNETMASK},
        {"--gateway", BMC::SUBADDRESS_NETWORK_CONFIG_GATEWAY},
        {"--dns1", BMC::SUBADDRESS_NETWORK_CONFIG_DNS1},
        {"--dns2", BMC::SUBADDRESS_NETWORK_CONFIG_DNS2},
        {"--hostname", BMC::SUBADDRESS_NETWORK_CONFIG_HOSTNAME},
    };
    std::vector<std::string> values(6);
    std::vector<bool> given(6, false);
    int mode = -1;
    bool apply = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--dhcp" || arg == "--static") {
            int wanted = arg == "--dhcp" ? BMC::SUBADDRESS_NETWORK_CONFIG_MODE_DHCP
                                         : BMC::SUBADDRESS_NETWORK_CONFIG_MODE_STATIC;
            if (mode != -1 && mode != wanted) {
                *why = "--dhcp and --static exclude each other";
                return false;
            }
            mode = wanted;
            continue;
        }
        if (arg == "--apply") {
            apply = true;
            continue;
        }
        if (arg == "--check-seconds") {
            std::string value = i + 1 < args.size() ? args[++i] : "";
            unsigned long seconds = strtoul(value.c_str(), nullptr, 10);
            bool digits = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || value.size() > 5 || seconds > max_check_seconds) {
                *why = "--check-seconds needs a number of seconds from 0 to " +
                       std::to_string(max_check_seconds);
                return false;
            }
            *check_seconds = static_cast<int>(seconds);
            continue;
        }
        size_t option = 0;
        while (option < 6 && arg != text_options[option].first)
            ++option;
        if (option == 6) {
            *why = "unknown option " + arg;
            return false;
        }
        if (i + 1 >= args.size()) {
            *why = arg + " needs a value";
            return false;
        }
        // A BMC's text item carries at most its data length, NUL included.
        if (args[i + 1].size() >= BMC::max_packet_data_length) {
            *why = arg + " value is too long";
            return false;
        }
        values[option] = args[++i];
        given[option] = true;
    }
    if (mode != -1)
        items->push_back({BMC::SUBADDRESS_NETWORK_CONFIG_MODE, std::string(1, static_cast<char>(mode)), true,
                          mode == BMC::SUBADDRESS_NETWORK_CONFIG_MODE_DHCP ? "--dhcp" : "--static"});
    for (size_t option = 0; option < 5; ++option)
        if (given[option])
            items->push_back({text_options[option].second, values[option], false,
                              std::string(text_options[option].first) + " " + get_Log_Text(values[option])});
    if (apply)
        items->push_back({BMC::SUBADDRESS_NETWORK_CONFIG_APPLY, std::string(1, '\1'), true, "--apply"});
    if (given[5])
        items->push_back({BMC::SUBADDRESS_NETWORK_CONFIG_HOSTNAME, values[5], false,
                          "--hostname " + get_Log_Text(values[5])});
    if (items->empty()) {
        *why = "set needs at least one option";
        return false;
    }
    if (*check_seconds >= 0 && !apply) {
        *why = "--check-seconds needs --apply";
        return false;
    }
    return true;
}

int run_Set(const std::vector<std::string>& args)
{
    std::vector<Item> items;
    std::string why;
    int check_seconds = -1;
    if (!get_Set_Items(args, &items, &check_seconds, &why))
        return fail_Usage(why);
    if (check_seconds >= 0)
        set_Trial_Window(static_cast<unsigned int>(check_seconds));
    set_Trial_Watcher(show_Trial_Progress, get_Interrupted);
    // The commands run in groups of their own; this process waits for them and then says so.
    struct sigaction deferred = {};
    deferred.sa_handler = note_Interrupt;
    sigemptyset(&deferred.sa_mask);
    sigaction(SIGINT, &deferred, nullptr);
    sigaction(SIGTERM, &deferred, nullptr);
    bool apply = false;
    bool settings = false;
    for (const Item& item : items) {
        apply = apply || item.subaddress == BMC::SUBADDRESS_NETWORK_CONFIG_APPLY;
        settings = settings || item.subaddress < BMC::SUBADDRESS_NETWORK_CONFIG_APPLY;
    }
    // A change looks eth0's owner up once, under the settings lock, and writes from that lookup.
    struct Hold {
        explicit Hold(bool apply)
        {
            if (apply)
                (void)set_Settings_Hold_Taken();
        }
        ~Hold() { set_Settings_Hold_Ended(); }
    } hold(apply);
    Network::set_Interface_Selected(interface_name);
    std::string manager = Network::get_Manager_Name();
    // Staged settings live in this process only, whoever owns eth0: without --apply they would be lost unsaid
    // (on a bare host too, whose default file is the apply's first step).
    if (settings && !apply)
        (void)fprintf(
            stderr,
            "lumerion-netcfg: %s keeps staged settings only until --apply: add --apply to write them\n",
            manager == "UNKNOWN" ? "a host where no manager defines eth0 yet" : manager.c_str());
    if (interrupted) {
        (void)fputs("lumerion-netcfg: interrupted: nothing was changed\n", stderr);
        return 130;
    }
    int status = 0;
    const Item* stopped_before = nullptr;
    bool applied = false;
    for (const Item& item : items) {
        // Ctrl-C stops before the next step: nothing new starts after it.
        if (interrupted) {
            stopped_before = &item;
            break;
        }
        applied = applied || item.subaddress == BMC::SUBADDRESS_NETWORK_CONFIG_APPLY;
        BMC::Packet packet;
        BMC::DATA_TYPE type = item.byte ? BMC::DATA_TYPE::UINT8 : BMC::DATA_TYPE::STRING;
        uint8_t count = static_cast<uint8_t>(item.byte ? 1 : item.text.size() + 1);
        BMC::init_Packet(&packet, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false,
                         BMC::ADDRESS::NETWORK, item.subaddress, type, item.text.c_str(), count);
        if (I2C_BMC_Packet_Hander(&packet) != 0) {
            bool command = item.subaddress >= BMC::SUBADDRESS_NETWORK_CONFIG_APPLY;
            // A rollback is said once, at the end, with its own exit status.
            Trial_End end = get_Trial_End();
            if (item.subaddress == BMC::SUBADDRESS_NETWORK_CONFIG_APPLY &&
                (end == Trial_End::ROLLED_BACK || end == Trial_End::FAILED || end == Trial_End::INCOMPLETE)) {
                status = end == Trial_End::ROLLED_BACK ? 3 : 4;
                continue;
            }
            end_Countdown();
            (void)fprintf(stderr, "lumerion-netcfg: %s %s (see the ERROR line above)\n", item.option.c_str(),
                          command ? "failed" : "was refused");
            status = status >= 3 ? status : 1;
            // Nothing is applied once a value was refused.
            if (!command)
                break;
        }
    }
    // An earlier trial whose rollback failed, met by this change, is said the same way.
    if (get_Trial_End() == Trial_End::FAILED || get_Trial_End() == Trial_End::INCOMPLETE)
        status = 4;
    end_Countdown();
    // An earlier change this one finished first is said before this change's own end.
    if (!get_Earlier_Line().empty())
        (void)fprintf(stderr, "lumerion-netcfg: %s\n", get_Log_Text(get_Earlier_Line()).c_str());
    // Why the change was kept, or its rollback's line.
    if (!get_Trial_Line().empty())
        (void)fprintf(stderr, "lumerion-netcfg: %s\n", get_Trial_Line().c_str());
    if (status == 4)
        (void)fputs("lumerion-netcfg: the rollback failed: eth0 may be off its old settings; check the host "
                    "(lumerion-netcfg show)\n",
                    stderr);
    if (get_Trial_End() == Trial_End::LEFT) {
        (void)fprintf(stderr,
                      "lumerion-netcfg: interrupted: the trial is left to the daemon, which keeps the change "
                      "or rolls it back when its window ends%s\n",
                      stopped_before != nullptr ? ("; " + stopped_before->option + " was not done").c_str()
                                                : "");
        return 130;
    }
    if (stopped_before != nullptr) {
        (void)fprintf(stderr, "lumerion-netcfg: interrupted before %s: %s\n", stopped_before->option.c_str(),
                      applied ? "the apply finished as the lines above say; nothing after it was done"
                              : "nothing was applied, and the values given before it were dropped");
        return 130;
    }
    if (interrupted) {
        (void)fprintf(stderr, "lumerion-netcfg: interrupted: the change %s\n",
                      status == 0 ? "finished and took effect" : "finished as the lines above say");
        return 130;
    }
    return status;
}

// A DHCP setting as the interface holds it live: marked leased only when the kernel says its address is
// (a finite lifetime); a static address beside "dhcp4: true" is no lease.
std::string get_Leased_Text(const Network::Config& live, Network::CONFIG_TYPE type, bool leased)
{
    std::string value = type == Network::CONFIG_TYPE::IP_ADDRESS   ? live.ip4_address
                        : type == Network::CONFIG_TYPE::SUBNETMASK ? live.ip4_subnetmask
                                                                   : live.ip4_gateway;
    if (live.ip4_address.empty() || value.empty())
        return "(none leased)";
    return leased ? value + " (leased)" : value;
}

// Whether the kernel holds the interface's live address as a lease.
bool get_Live_Address_Leased(const Network::Config& live)
{
    for (const Interface_Address& held : get_Interface_Addresses(Network::get_Interface_Name()))
        if (held.leased && held.cidr.compare(0, live.ip4_address.size() + 1, live.ip4_address + "/") == 0)
            return true;
    return false;
}

// Reads only: selecting the interface would prepare its files, and show writes nothing.
int run_Show()
{
    if (strcmp(Network::get_Interface_Name(), interface_name) != 0) {
        (void)fprintf(stderr, "lumerion-netcfg: the daemon's interface is not %s\n", interface_name);
        return 1;
    }
    if (!Network::get_Interface_Exist()) {
        (void)fprintf(stderr,
                      "lumerion-netcfg: %s does not exist: the settings path needs an interface named %s\n",
                      interface_name, interface_name);
        return 1;
    }
    std::string manager = Network::get_Manager_Name();
    printf("interface: %s\nmanager: %s\n", Network::get_Interface_Name(), manager.c_str());
    // A host no manager could take: there are no settings to read, and that is no fault. Only an ownerless
    // host is asked again.
    std::string unmanaged = manager == "UNKNOWN" ? Network::get_Unmanaged_Reason() : "";
    if (!unmanaged.empty()) {
        printf("note: %s\n", get_Log_Text(unmanaged).c_str());
        return 0;
    }
    // A port's addresses are its master's: none is shown as its own.
    std::string master = manager == "UNKNOWN" ? "" : Network::get_Port_Master();
    if (!master.empty()) {
        printf("port of: %s\nnote: %s\n", get_Log_Text(master).c_str(),
               get_Log_Text(get_Port_Refusal(Network::get_Interface_Name(), master)).c_str());
        return 0;
    }
    std::string trial = get_Trial_Summary();
    if (!trial.empty())
        printf("trial: %s\n", get_Log_Text(trial).c_str());
    // Servers a stanza names but nothing hands to the resolver are shown as such.
    const std::string dns_void = manager == "ifupdown" ? get_ifupdown_DNS_Void("") : "";
    bool dns_shown = false;
    // On DHCP the address, mask and gateway are what the server leased: the interface's live ones.
    const Network::Config live = Network::get_Interface_Live_Info();
    const bool live_leased = !live.ip4_address.empty() && get_Live_Address_Leased(live);
    bool dhcp = false;
    const struct {
        Network::CONFIG_TYPE type;
        const char* name;
    } settings[] = {
        {Network::CONFIG_TYPE::MODE, "mode"},          {Network::CONFIG_TYPE::IP_ADDRESS, "address"},
        {Network::CONFIG_TYPE::SUBNETMASK, "netmask"}, {Network::CONFIG_TYPE::GATEWAY, "gateway"},
        {Network::CONFIG_TYPE::DNS1, "dns1"},          {Network::CONFIG_TYPE::DNS2, "dns2"},
    };
    int status = 0;
    for (const auto& setting : settings) {
        char buffer[128];
        memset(buffer, 0, sizeof(buffer));
        if (Network::get_Config(setting.type, buffer, sizeof(buffer)) != 0) {
            printf("%s: (unreadable)\n", setting.name);
            status = 1;
            continue;
        }
        std::string value = setting.type == Network::CONFIG_TYPE::MODE
                                ? (buffer[0] == 0 ? "dhcp" : "static")
                                : std::string(buffer, strnlen(buffer, 128));
        if (setting.type == Network::CONFIG_TYPE::MODE)
            dhcp = buffer[0] == 0;
        bool leased = dhcp && (setting.type == Network::CONFIG_TYPE::IP_ADDRESS ||
                               setting.type == Network::CONFIG_TYPE::SUBNETMASK ||
                               setting.type == Network::CONFIG_TYPE::GATEWAY);
        if (leased)
            value = get_Leased_Text(live, setting.type, live_leased);
        bool server =
            setting.type == Network::CONFIG_TYPE::DNS1 || setting.type == Network::CONFIG_TYPE::DNS2;
        if (server && !value.empty() && !dns_void.empty()) {
            value += " (no effect)";
            dns_shown = true;
        }
        printf("%s: %s\n", setting.name, get_Log_Text(value).c_str());
    }
    if (dns_shown)
        printf("note: %s\n", dns_void.c_str());
    const std::string refusal = Network::get_Change_Refusal();
    if (!refusal.empty())
        printf("note: changes are refused: %s\n", get_Log_Text(refusal).c_str());
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    // One command, one owner lookup for its reads: show's manager, port and six settings come from it.
    Network::set_Owner_Kept(true);
    // libnetplan stays out of the CLI too: a file that would hang its parser is given up after 10 s.
    set_netplan_Reader_Beside(LUMERION_NETPLAN_READER);
    if (args.empty())
        return fail_Usage("a command is needed");
    if (args[0] == "--help" || args[0] == "-h") {
        (void)fputs(usage_text, stdout);
        return 0;
    }
    // Standard output carries the answer; the daemon's ERROR lines still go to standard error.
    set_Info_Log(false);
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "show")
        return rest.empty() ? run_Show() : fail_Usage("show takes no options");
    if (args[0] == "set")
        return run_Set(rest);
    return fail_Usage("unknown command " + args[0]);
}
