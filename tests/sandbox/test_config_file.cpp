// The key-value editor and the crash-safe writer on real files, including a
// full file system and a read-only one, which only the sandbox can mount.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "config_file_handling.h"
#include "file_replace.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;

class ConfigFileIo : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = "/etc/network/interfaces.d";
        fs::create_directories(dir);
        path = dir + "/eth0";
    }
    static size_t entries_In(const std::string& d)
    {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(d)) {
            (void)e;
            ++n;
        }
        return n;
    }
    std::string dir, path;
};

TEST_F(ConfigFileIo, ReadResults)
{
    char buffer[128];
    memset(buffer, 'Z', sizeof(buffer));
    EXPECT_EQ(1, Config_File::get_Data(path.c_str(), "address", buffer, sizeof(buffer), ' ', nullptr, false));
    write_File(path, "iface eth0 inet static\n    address 10.0.0.5\r\n    gateway \n");
    EXPECT_EQ(2, Config_File::get_Data(path.c_str(), "address", nullptr, 128, ' ', nullptr, false));
    EXPECT_EQ(3, Config_File::get_Data(path.c_str(), "netmask", buffer, sizeof(buffer), ' ', nullptr, false));
    EXPECT_EQ('Z', buffer[0]);
    EXPECT_EQ(0, Config_File::get_Data(path.c_str(), "address", buffer, sizeof(buffer), ' ', nullptr, false));
    EXPECT_STREQ("10.0.0.5", buffer);
    EXPECT_EQ(0, Config_File::get_Data(path.c_str(), "iface eth0 inet", buffer, sizeof(buffer), ' ', nullptr,
                                       false));
    EXPECT_STREQ("static", buffer);
    EXPECT_EQ(0, Config_File::get_Data(path.c_str(), "gateway", buffer, sizeof(buffer), ' ', nullptr, false));
    EXPECT_STREQ("\n", buffer);
    // A value longer than the buffer is cut and still terminated.
    write_File(path, "address " + std::string(300, '1') + "\n");
    EXPECT_EQ(0, Config_File::get_Data(path.c_str(), "address", buffer, sizeof(buffer), ' ', nullptr, false));
    EXPECT_EQ(std::string(127, '1'), std::string(buffer));
    // Readable but not writable (a read-only mount) counts as unusable.
    ASSERT_EQ(0, run_Shell("mount --bind " + dir + " " + dir + " && mount -o remount,bind,ro " + dir));
    EXPECT_EQ(1, Config_File::get_Data(path.c_str(), "address", buffer, sizeof(buffer), ' ', nullptr, false));
    run_Shell("umount " + dir);
}

TEST_F(ConfigFileIo, MissingFileIsNeverCreated)
{
    EXPECT_EQ(2, Config_File::set_Data(path.c_str(), "gateway", "10.0.0.1", ' ', nullptr));
    EXPECT_EQ(1, Config_File::set_Data_Comment(path.c_str(), "gateway", true, ' ', nullptr));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(0u, entries_In(dir));
}

TEST_F(ConfigFileIo, EditsKeepModeOwnerAndNothingElse)
{
    std::string before = "auto eth0\niface eth0 inet static\n    hwaddress ether 02:00:00:00:00:01\n"
                         "    address 10.0.0.5\n    netmask 255.255.255.0\n";
    write_File(path, before);
    chmod(path.c_str(), 0640);
    ASSERT_EQ(0, chown(path.c_str(), 123, 456));
    EXPECT_EQ(0, Config_File::set_Data(path.c_str(), "address", "10.0.0.9", ' ', "hwaddress"));
    EXPECT_EQ(2, Config_File::set_Data(path.c_str(), "gateway", "10.0.0.1", ' ', nullptr));
    EXPECT_EQ(0, Config_File::set_Data_Comment(path.c_str(), "netmask", true, ' ', nullptr));
    EXPECT_EQ(1, Config_File::set_Data_Comment(path.c_str(), "dns-nameservers", true, ' ', nullptr));
    EXPECT_EQ("auto eth0\niface eth0 inet static\n    hwaddress ether 02:00:00:00:00:01\n"
              "    address 10.0.0.9\n    #netmask 255.255.255.0\n\ngateway 10.0.0.1",
              read_File(path));
    struct stat info;
    ASSERT_EQ(0, stat(path.c_str(), &info));
    EXPECT_EQ(0640u, info.st_mode & 07777);
    EXPECT_EQ(123u, info.st_uid);
    EXPECT_EQ(456u, info.st_gid);
    // No temporary file is left beside it.
    EXPECT_EQ(1u, entries_In(dir));
}

// An edit that changes nothing leaves the file itself in place (same inode).
TEST_F(ConfigFileIo, EditsThatChangeNothingKeepTheFile)
{
    write_File(path, "iface eth0 inet static\n    address 10.0.0.5\n    #gateway 10.0.0.1\n");
    struct stat before;
    ASSERT_EQ(0, stat(path.c_str(), &before));
    EXPECT_EQ(0, Config_File::set_Data(path.c_str(), "address", "10.0.0.5", ' ', nullptr));
    EXPECT_EQ(0, Config_File::set_Data_Comment(path.c_str(), "gateway", true, ' ', nullptr));
    struct stat after;
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(0, Config_File::set_Data(path.c_str(), "address", "10.0.0.6", ' ', nullptr));
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_NE(before.st_ino, after.st_ino);
}

TEST_F(ConfigFileIo, LongLinesOnDisk)
{
    std::string long_line = "# " + std::string(70000, 'c') + "\n";
    write_File(path, long_line + "    address 10.0.0.5\n" + long_line + "gateway 10.0.0.1");
    char buffer[128];
    EXPECT_EQ(0, Config_File::get_Data(path.c_str(), "gateway", buffer, sizeof(buffer), ' ', nullptr, false));
    EXPECT_STREQ("10.0.0.1", buffer);
    EXPECT_EQ(0, Config_File::set_Data(path.c_str(), "address", "10.0.0.6", ' ', nullptr));
    EXPECT_EQ(long_line + "    address 10.0.0.6\n" + long_line + "gateway 10.0.0.1", read_File(path));
}

TEST_F(ConfigFileIo, SymlinkEditChangesItsTarget)
{
    std::string target = dir + "/eth0.real";
    write_File(target, "address 10.0.0.5\n");
    fs::create_symlink("eth0.real", path);
    EXPECT_EQ(0, Config_File::set_Data(path.c_str(), "address", "10.0.0.7", ' ', nullptr));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ("address 10.0.0.7\n", read_File(target));
}

// A tiny tmpfs that fills up, and a read-only bind mount: every failed write
// leaves the original file byte for byte and no temporary file behind.
TEST_F(ConfigFileIo, FailedWritesLeaveTheOriginalIntact)
{
    std::string before = "iface eth0 inet static\n    address 10.0.0.5\n    gateway 10.0.0.1\n";
    ASSERT_EQ(0, run_Shell("mount -t tmpfs -o size=64k lumerion-full " + dir));
    write_File(path, before);
    std::string filler = dir + "/filler";
    run_Shell("dd if=/dev/zero of=" + filler + " bs=4k count=64 2>/dev/null");
    std::string huge(20000, 'x');
    EXPECT_EQ(2, Config_File::set_Data(path.c_str(), "address", huge.c_str(), ' ', nullptr));
    EXPECT_EQ(before, read_File(path));
    EXPECT_EQ(2u, entries_In(dir));
    EXPECT_NE(0, set_File_Replace(path, huge, 0600));
    EXPECT_EQ(before, read_File(path));
    EXPECT_EQ(2u, entries_In(dir));
    run_Shell("umount " + dir);

    write_File(path, before);
    ASSERT_EQ(0, run_Shell("mount --bind " + dir + " " + dir + " && mount -o remount,bind,ro " + dir));
    EXPECT_EQ(2, Config_File::set_Data(path.c_str(), "address", "10.0.0.6", ' ', nullptr));
    EXPECT_EQ(1, Config_File::set_Data_Comment(path.c_str(), "gateway", true, ' ', nullptr));
    EXPECT_EQ(before, read_File(path));
    EXPECT_EQ(1u, entries_In(dir));
    run_Shell("umount " + dir);
}

TEST(FileReplace, NewFileGetsTheGivenModeAndDirectoriesAreNotMade)
{
    std::string path = get_Sandbox_Dir() + "/new.conf";
    ASSERT_EQ(0, set_File_Replace(path, "a=1\n", 0600));
    struct stat info;
    ASSERT_EQ(0, stat(path.c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);
    EXPECT_EQ("a=1\n", read_File(path));
    EXPECT_EQ(ENOENT, set_File_Replace(get_Sandbox_Dir() + "/no/such/dir/x", "a", 0600));
    fs::create_directory(get_Sandbox_Dir() + "/a-dir");
    EXPECT_EQ(EINVAL, set_File_Replace(get_Sandbox_Dir() + "/a-dir", "a", 0600));
}

} // namespace
