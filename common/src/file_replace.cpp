#include "file_replace.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "guards.h"

namespace {

// The file a write to `path` lands in: symlinks followed, even a dangling one.
std::string get_Write_Target(const std::string& path)
{
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        char link[PATH_MAX];
        ssize_t n = readlink(target.c_str(), link, sizeof(link) - 1);
        if (n < 0)
            return target;
        std::string next(link, static_cast<size_t>(n));
        if (next[0] != '/') {
            size_t slash = target.rfind('/');
            next.insert(0, slash == std::string::npos ? std::string() : target.substr(0, slash + 1));
        }
        target = next;
    }
    return target;
}

int write_All(int fd, const std::string& content)
{
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Reads to the end, or until `limit` bytes are held and more is waiting
// (`over_limit`); 0, or the errno of a failed read.
int get_Descriptor_Text(int fd, size_t limit, std::string* content, bool* over_limit)
{
    content->clear();
    *over_limit = false;
    char chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno == EAGAIN ? 0 : errno;
        if (n == 0)
            return 0;
        size_t room = limit - content->size();
        if (static_cast<size_t>(n) > room) {
            content->append(chunk, room);
            *over_limit = true;
            return 0;
        }
        content->append(chunk, static_cast<size_t>(n));
    }
}

} // namespace

namespace {

// The mode and owner a replaced file is given.
struct File_Owner {
    bool keep_existing; // the existing file's own, when there is one
    mode_t mode;
    uid_t uid;
    gid_t gid;
    bool synced = true; // the bytes and the rename reach the disk before it returns
};

// The directory a path's entry lives in, and its name there.
void get_Directory_And_Name(const std::string& target, std::string* dir, std::string* base)
{
    size_t slash = target.rfind('/');
    *dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    *base = slash == std::string::npos ? target : target.substr(slash + 1);
}

void set_Directory_Synced(const std::string& dir)
{
    Descriptor dir_fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir_fd.get() >= 0)
        (void)fsync(dir_fd.get());
}

int replace_File(const std::string& path, const std::string& content, const File_Owner& wanted)
{
    std::string target = get_Write_Target(path);
    std::string dir;
    std::string base;
    get_Directory_And_Name(target, &dir, &base);

    struct stat existing;
    bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return EINVAL;

    std::vector<char> temp_name(dir.begin(), dir.end());
    std::string suffix = "/." + base + ".XXXXXX";
    temp_name.insert(temp_name.end(), suffix.begin(), suffix.end());
    temp_name.push_back('\0');
    Descriptor fd(mkostemp(temp_name.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return errno;

    int rc = write_All(fd.get(), content);
    if (rc == 0 && wanted.synced && fsync(fd.get()) != 0)
        rc = errno;
    bool keep = exists && wanted.keep_existing;
    uid_t uid = keep ? existing.st_uid : wanted.uid;
    gid_t gid = keep ? existing.st_gid : wanted.gid;
    if (rc == 0 && fchmod(fd.get(), keep ? (existing.st_mode & 07777) : wanted.mode) != 0)
        rc = errno;
    if (rc == 0 && (uid != geteuid() || gid != getegid()) && fchown(fd.get(), uid, gid) != 0)
        rc = errno;
    if (fd.release() != 0 && rc == 0)
        rc = errno;
    if (rc == 0 && rename(temp_name.data(), target.c_str()) != 0)
        rc = errno;
    if (rc != 0) {
        unlink(temp_name.data());
        return rc;
    }
    if (!wanted.synced)
        return 0;
    // The rename itself must reach the disk before the change counts as made.
    set_Directory_Synced(dir);
    return 0;
}

} // namespace

int set_File_Removed(const std::string& path)
{
    if (unlink(path.c_str()) != 0)
        return errno == ENOENT ? 0 : errno;
    std::string dir;
    std::string base;
    get_Directory_And_Name(path, &dir, &base);
    set_Directory_Synced(dir);
    return 0;
}

bool get_Replace_Leftover_Name(const std::string& base, const std::string& name)
{
    const std::string head = "." + base + ".";
    if (base.empty() || name.size() != head.size() + 6 || name.compare(0, head.size(), head) != 0)
        return false;
    for (size_t i = head.size(); i < name.size(); ++i)
        if (!isalnum(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

void set_Replace_Leftovers_Removed(const std::string& path, std::vector<std::string>* removed)
{
    std::string dir;
    std::string base;
    get_Directory_And_Name(get_Write_Target(path), &dir, &base);
    std::vector<std::string> found;
    std::error_code failed;
    for (std::filesystem::directory_iterator it(dir, failed), end; !failed && it != end; it.increment(failed))
        if (get_Replace_Leftover_Name(base, it->path().filename().string()))
            found.push_back(it->path().string());
    bool any = false;
    for (const std::string& leftover : found) {
        struct stat info;
        // Only a plain file, as mkostemp made it: never a link or a directory that merely looks alike.
        if (lstat(leftover.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || unlink(leftover.c_str()) != 0)
            continue;
        removed->push_back(leftover);
        any = true;
    }
    if (any)
        set_Directory_Synced(dir);
}

int set_File_Replace(const std::string& path, const std::string& content, mode_t new_file_mode, bool synced)
{
    return replace_File(path, content, File_Owner{true, new_file_mode, geteuid(), getegid(), synced});
}

int set_File_Restore(const std::string& path, const std::string& content, mode_t mode, uid_t uid, gid_t gid)
{
    return replace_File(path, content, File_Owner{false, mode, uid, gid});
}

bool get_File_Content(const std::string& path, std::string* content, std::string* error, size_t max_bytes)
{
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    // Without blocking: a FIFO or a device at a configuration path must not hold the daemon.
    Descriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0) {
        why = strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        why = "not a regular file";
        return false;
    }
    bool over_limit = false;
    int read_error = get_Descriptor_Text(fd.get(), max_bytes, content, &over_limit);
    if (read_error != 0 || over_limit) {
        why = read_error != 0
                  ? strerror(read_error)
                  : "larger than " + (max_bytes % (1 << 20) == 0 ? std::to_string(max_bytes >> 20) + " MiB"
                                                                 : std::to_string(max_bytes >> 10) + " KiB");
        content->clear();
        return false;
    }
    return true;
}

bool get_Table_Text(const char* path, size_t max_bytes, std::string* content)
{
    // Without blocking: whatever stands at a kernel table's path must not hold the daemon.
    Descriptor fd(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    bool over_limit = false;
    return get_Descriptor_Text(fd.get(), max_bytes, content, &over_limit) == 0;
}
