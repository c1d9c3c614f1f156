#include "parser_judges.h"

#include <string.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <vector>

#include "sandbox.h"

namespace fs = std::filesystem;

Netplan_Verdict get_Netplan_Verdict(const std::string& text)
{
    std::string root = get_Sandbox_Dir() + "/netplan-root";
    std::string file = root + "/etc/netplan/01-netcfg.yaml";
    fs::remove_all(root);
    fs::create_directories(root + "/etc/netplan");
    write_File(file, text);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    Netplan_Verdict verdict;
    std::string err = get_Sandbox_Dir() + "/generate.err";
    verdict.rc = run_Shell("/usr/sbin/netplan generate --root-dir " + root + " 2>" + err);
    verdict.err = read_File(err);
    verdict.unit = read_File(root + "/run/systemd/network/10-netplan-eth0.network");
    return verdict;
}

Netplan_Verdict get_Netplan_Tree_Verdict()
{
    std::string root = get_Sandbox_Dir() + "/netplan-tree";
    fs::remove_all(root);
    for (const char* directory : {"/etc/netplan", "/run/netplan"}) {
        fs::create_directories(root + directory);
        if (fs::is_directory(directory))
            fs::copy(directory, root + directory, fs::copy_options::recursive);
    }
    Netplan_Verdict verdict;
    std::string err = get_Sandbox_Dir() + "/generate.err";
    verdict.rc = run_Shell("/usr/sbin/netplan generate --root-dir " + root + " 2>" + err);
    verdict.err = read_File(err);
    std::vector<std::string> lines;
    std::error_code none;
    for (const auto& unit : fs::directory_iterator(root + "/run/systemd/network", none)) {
        std::istringstream in(read_File(unit.path().string()));
        for (std::string line; std::getline(in, line);)
            for (const char* key : {"Address=", "DHCP=", "DNS=", "Gateway="})
                if (line.compare(0, strlen(key), key) == 0)
                    lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines)
        verdict.unit += line + "\n";
    return verdict;
}

std::string get_Ifquery_Options(const std::string& file)
{
    std::string out = get_Sandbox_Dir() + "/ifquery.out";
    run_Shell("/usr/sbin/ifquery -i " + file + " eth0 > " + out + " 2>&1");
    return read_File(out);
}

std::string get_Ifup_Plan()
{
    std::string out = get_Sandbox_Dir() + "/ifup.out";
    fs::create_directories("/run/network");
    int rc = run_Shell("/usr/sbin/ifup --no-act eth0 > " + out + " 2>&1");
    std::string plan = rc == 0 ? "" : "ifup failed\n";
    std::istringstream in(read_File(out));
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.size() > 3 && w[0] == "ip" && w[1] == "addr" && w[2] == "add")
            plan += "address " + w[3] + "\n";
        else if (w.size() > 5 && w[0] == "ip" && w[1] == "route" && w[3] == "default" && w[4] == "via")
            plan += "gateway " + w[5] + "\n";
        else if (line.find("dhclient") != std::string::npos ||
                 line.find("DHCP client") != std::string::npos || line.find("udhcpc") != std::string::npos ||
                 line.find("dhcpcd") != std::string::npos)
            plan += "dhcp\n";
    }
    return plan;
}
