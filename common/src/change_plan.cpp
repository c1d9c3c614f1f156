// The steps a settings change is made of, as pure functions that hold for
// every manager: a command, a file written or removed, the owner's own files
// as a change, and why a record or a port is refused.
#include "change_plan.h"

#include <algorithm>
#include <sstream>

#include "extra_command_handling.h"
#include "network_parse.h"

Plan_Step get_Run_Step(const std::string& command)
{
    Plan_Step step;
    step.kind = Plan_Step::KIND::RUN;
    step.command = command;
    (void)get_Shell_Words(command, &step.argv);
    return step;
}

void set_Run_Steps_Added(std::vector<Plan_Step>* steps, const std::vector<std::string>& commands)
{
    for (const std::string& command : commands)
        steps->push_back(get_Run_Step(command));
}

std::string get_Record_Refusal(const Network_Config& record)
{
    if (record.ip4_dhcp)
        return "";
    std::string missing =
        get_Static_Record_Missing(record.ip4_address, record.ip4_subnetmask, record.ip4_gateway);
    if (!missing.empty())
        return "refused to apply: static settings need " + missing;
    std::string fault =
        get_Static_Record_Fault(record.ip4_address, record.ip4_subnetmask, record.ip4_gateway);
    return fault.empty() ? "" : "refused to apply: " + fault;
}

std::string get_Step_Action(const Plan_Step& step)
{
    switch (step.kind) {
    case Plan_Step::KIND::WRITE:
        return "write " + step.path;
    case Plan_Step::KIND::REMOVE:
        return "remove " + step.path;
    case Plan_Step::KIND::PRUNE:
        return "prune " + step.path;
    case Plan_Step::KIND::RUN:
        break;
    }
    return "run " + step.command;
}

std::string get_Port_Refusal(const std::string& interface_name, const std::string& master)
{
    std::string name = master.substr(master.find(' ') + 1);
    return interface_name + " is a port of " + master + ": its addresses are " + name + "'s; change " + name +
           "'s settings instead, or take " + interface_name + " out of " + name + " first";
}

std::vector<Plan_Step> get_Leftover_Steps(const std::string& path)
{
    Plan_Step remove;
    remove.kind = Plan_Step::KIND::REMOVE;
    remove.path = path;
    return {remove};
}

Change_Plan get_Owner_Files_Plan(Manager_Type manager, const std::string& interface_name,
                                 const std::vector<Plan_Step>& steps, const std::string& origin)
{
    Change_Plan plan;
    plan.target.manager = manager;
    plan.target.interface_name = interface_name;
    plan.steps = steps;
    plan.checked = false;
    plan.origin = origin;
    // A default leaves the interface to DHCP.
    plan.expected.target_interface = interface_name;
    plan.expected.ip4_dhcp = true;
    return plan;
}

Plan_Step get_File_Step(const std::string& path, const std::string& before, const std::string& after,
                        unsigned int mode)
{
    Plan_Step step;
    step.kind = Plan_Step::KIND::WRITE;
    step.path = path;
    step.bytes = after;
    step.mode = mode;
    step.guard_hash = get_Content_Hash(true, before);
    return step;
}

std::string get_Keyfile_Uuid(const std::string& text)
{
    std::istringstream in(text);
    std::string section;
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(" \t"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (!line.empty() && line[0] == '[')
            section = line;
        else if (section == "[connection]" && line.compare(0, 5, "uuid=") == 0)
            return line.substr(5);
    }
    return "";
}
