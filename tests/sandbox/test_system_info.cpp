#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "log.h"
#include "sandbox.h"
#include "system_info.h"

namespace {

const char* const lsblk_args = "-p -o NAME,SIZE,TYPE -n --exclude 1,7";

struct DiskList {
    uint8_t count = 0;
    std::string names, sizes;
    bool read = false;
};

DiskList read_Disks()
{
    DiskList list;
    list.read = System_Info::get_Disk_Info(&list.count, &list.names, &list.sizes);
    return list;
}

TEST(DiskInfo, DisksWithPartitionsBelowThem)
{
    set_Tool_Answer("lsblk", lsblk_args,
                    "/dev/sda           1.8T disk\n"
                    "├─/dev/sda1        512M part /boot/efi\n"
                    "└─/dev/sda2        1.8T part /\n"
                    "/dev/nvme0n1     953.9G disk\n"
                    "└─/dev/nvme0n1p1 953.9G part\n"
                    "  └─/dev/mapper/vg-data 953.9G lvm /data\n");
    clear_Tool_Calls();
    DiskList list = read_Disks();
    EXPECT_TRUE(list.read);
    EXPECT_EQ(2, list.count);
    EXPECT_EQ("/dev/sda|/dev/nvme0n1", list.names);
    EXPECT_EQ("1.8T|953.9G", list.sizes);
    EXPECT_EQ(std::vector<std::string>{std::string("lsblk ") + lsblk_args}, get_Tool_Calls());
}

TEST(DiskInfo, NoDiskIsStillARead)
{
    set_Tool_Answer("lsblk", lsblk_args, "");
    DiskList list = read_Disks();
    EXPECT_TRUE(list.read);
    EXPECT_EQ(0, list.count);
    EXPECT_EQ("", list.names);
    EXPECT_EQ("", list.sizes);
}

TEST(DiskInfo, CountContinuesFromTheCaller)
{
    set_Tool_Answer("lsblk", lsblk_args, "/dev/sdc 2T disk\n");
    uint8_t count = 2;
    std::string names = "/dev/sda|/dev/sdb", sizes = "1T|1T";
    EXPECT_TRUE(System_Info::get_Disk_Info(&count, &names, &sizes));
    EXPECT_EQ(3, count);
    EXPECT_EQ("/dev/sda|/dev/sdb|/dev/sdc", names);
    EXPECT_EQ("1T|1T|2T", sizes);
}

TEST(DiskInfo, RealLsblkOfThisMachine)
{
    // The host's own lsblk, read-only, against the real block devices.
    std::string out = get_Sandbox_Dir() + "/lsblk.out";
    ASSERT_EQ(0, run_Shell(std::string("/usr/bin/lsblk ") + lsblk_args + " > " + out));
    std::string listing = read_File(out);
    set_Tool_Answer("lsblk", lsblk_args, listing);
    // The same disks listed without their children and picked out by awk, not by the daemon's parser.
    std::string disks_out = get_Sandbox_Dir() + "/disks.out";
    ASSERT_EQ(0, run_Shell("/usr/bin/lsblk -d -n -p -o NAME,SIZE,TYPE --exclude 1,7 | "
                           "awk '$3 == \"disk\" { n = n s $1; z = z s $2; s = \"|\"; c++ } "
                           "END { printf \"%d\\n%s\\n%s\\n\", c, n, z }' > " +
                           disks_out));
    std::istringstream expected(read_File(disks_out));
    int count = 0;
    std::string names, sizes;
    expected >> count;
    expected.ignore();
    std::getline(expected, names);
    std::getline(expected, sizes);
    if (count == 0)
        GTEST_SKIP() << "this machine shows lsblk no disk to compare";
    DiskList list = read_Disks();
    EXPECT_TRUE(list.read);
    EXPECT_EQ(count, list.count) << listing;
    EXPECT_EQ(names, list.names) << listing;
    EXPECT_EQ(sizes, list.sizes) << listing;
}

struct MemoryCase {
    const char* name;
    std::string meminfo;
    uint64_t gib;
};

class MemoryTotal : public ::testing::TestWithParam<MemoryCase> {};

TEST_P(MemoryTotal, WholeGibibytes)
{
    std::string file = get_Sandbox_Dir() + "/meminfo";
    write_File(file, GetParam().meminfo);
    ASSERT_EQ(0, run_Shell("mount --bind " + file + " /proc/meminfo"));
    EXPECT_EQ(GetParam().gib, System_Info::get_Memory_Total_Size());
    run_Shell("umount /proc/meminfo");
}

INSTANTIATE_TEST_SUITE_P(
    Meminfo, MemoryTotal,
    ::testing::Values(
        MemoryCase{"example", "MemTotal:       32614568 kB\nMemFree:         1000 kB\n", 31},
        MemoryCase{"just_below_one", "MemTotal:        1048575 kB\n", 0},
        MemoryCase{"one", "MemTotal:        1048576 kB\n", 1},
        MemoryCase{"thirty_two", "MemTotal:       33554432 kB\n", 32},
        MemoryCase{"not_first_line", "MemFree: 5 kB\nMemTotal: 67108864 kB\n", 64},
        MemoryCase{"missing", "MemFree: 5 kB\nSwapTotal: 99999999 kB\n", 0},
        // A stand-in far larger than the kernel's file is read only to its first MiB.
        MemoryCase{"only_the_first_mebibyte_is_read",
                   "MemTotal: 1048576 kB\n" + std::string(2 << 20, '\n') + "MemTotal: 67108864 kB\n", 1}),
    [](const ::testing::TestParamInfo<MemoryCase>& info) { return std::string(info.param.name); });

TEST(TextProbes, OneLineWithoutItsNewline)
{
    set_Tool_Answer("hostname", "", "lumerion-host\n");
    set_Tool_Answer("uptime", "-p", "up 3 hours, 2 minutes\n");
    write_File("/etc/os-release", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    EXPECT_EQ("lumerion-host", System_Info::get_Hostname());
    EXPECT_EQ("up 3 hours, 2 minutes", System_Info::get_Uptime());
    EXPECT_EQ("Debian GNU/Linux 12 (bookworm)", System_Info::get_OS_Info());
    std::string out = get_Sandbox_Dir() + "/uname.out";
    ASSERT_EQ(0, run_Shell("uname -r > " + out));
    std::string release = read_File(out);
    EXPECT_EQ(release.substr(0, release.size() - 1), System_Info::get_Kernel_Version());
    set_Tool_Answer("hostname", "", "\n");
    EXPECT_EQ("\n", System_Info::get_Hostname());
}

// With every descriptor in use the hostname command cannot start.
void set_Hostname_Without_Descriptors()
{
    set_Descriptors_Used_Up();
    System_Info::set_Hostname("node-9");
    _exit(0);
}

TEST(SetHostnameDeathTest, CommandThatCannotStartIsReported)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(set_Hostname_Without_Descriptors(), ::testing::ExitedWithCode(0),
                "\\[ERROR\\]\t\\[System Info\\] update_Hostname: the hostname was not set: "
                "\"hostnamectl set-hostname node-9\" could not be started: Too many open files\033\\[0m\n$");
}

TEST(SetHostname, RunsHostnamectlForValidNamesOnly)
{
    clear_Tool_Calls();
    System_Info::set_Hostname("node-9");
    System_Info::set_Hostname(std::string(63, 'h'));
    System_Info::set_Hostname("node-9; reboot");
    System_Info::set_Hostname(std::string(102, 'h'));
    EXPECT_EQ((std::vector<std::string>{"hostnamectl set-hostname node-9",
                                        "hostnamectl set-hostname " + std::string(63, 'h')}),
              get_Tool_Calls());
}

// The host's own name still resolves once it changed: /etc/hosts follows it where it mapped the old
// name, judged by the C library's own lookup, and is left byte for byte elsewhere.
TEST(SetHostname, EtcHostsFollowsTheName)
{
    const struct {
        const char* name;
        std::string before;
        std::string after; // as before when it is left alone
        const char* said;  // the INFO line's start, "" for none
    } rows[] = {
        {"installer_line", "127.0.0.1\tlocalhost\n127.0.1.1\tkt-host.example.com\tkt-host\n",
         "127.0.0.1\tlocalhost\n127.0.1.1\tweb01.example.com\tweb01\n",
         "/etc/hosts maps web01 where it mapped kt-host"},
        {"no_line", "127.0.0.1 localhost\n", "127.0.0.1 localhost\n", ""},
        {"cloud_init_template",
         "# Your system has configured 'manage_etc_hosts' as True.\n127.0.1.1 kt-host.example.com kt-host\n",
         "# Your system has configured 'manage_etc_hosts' as True.\n127.0.1.1 kt-host.example.com kt-host\n",
         "/etc/hosts is written by cloud-init from its template"},
    };
    for (const auto& row : rows) {
        // The daemon's own kernel name stays the one it started with; hostnamectl's file says the last one.
        ASSERT_EQ(0, sethostname("vm-started-as", 13));
        write_File("/etc/hostname", "kt-host\n");
        write_File("/etc/hosts", row.before);
        ASSERT_EQ(0, chmod("/etc/hosts", 0644));
        Log_Capture log;
        EXPECT_TRUE(System_Info::update_Hostname("web01")) << row.name;
        EXPECT_EQ(row.after, read_File("/etc/hosts")) << row.name;
        EXPECT_EQ(row.said[0] == 0 ? std::string::npos : 0u,
                  log.text().find(std::string("[INFO]\t[System Info] set_Hosts_Followed: ") + row.said))
            << row.name << ": " << log.text();
        struct stat info;
        ASSERT_EQ(0, stat("/etc/hosts", &info));
        EXPECT_EQ(0644u, info.st_mode & 07777) << row.name;
        const bool resolves = run_Shell("getent hosts web01 | grep -q '^127.0.1.1 '") == 0;
        EXPECT_EQ(row.after.find("web01") != std::string::npos, resolves) << row.name;
    }
}

} // namespace
