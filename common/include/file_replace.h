#ifndef LUMERION_FILE_REPLACE_H
#define LUMERION_FILE_REPLACE_H

#include <sys/types.h>

#include <string>
#include <vector>

// Replaces a configuration file so that a crash, a full disk or a read-only
// file system never leaves it empty or half written: the new text goes to a
// temporary file in the same directory, is synced, given its mode and owner,
// and renamed over the old one. A symlink is followed and its target
// replaced. When `path` exists it keeps its mode and owner; a new file gets
// `new_file_mode`. Returns 0, or the errno of the step that failed (the
// original file is then untouched and the temporary file removed).
// Without `synced` the same replace leaves the bytes and the rename to the
// kernel's own write-back: whole either way, but maybe lost in a power cut.
int set_File_Replace(const std::string& path, const std::string& content, mode_t new_file_mode,
                     bool synced = true);
// The same replace, giving the file exactly `mode` and owner, as a saved copy had them.
int set_File_Restore(const std::string& path, const std::string& content, mode_t mode, uid_t uid, gid_t gid);

// Removes `path` and syncs its directory, so that the removal outlives a power
// cut. 0, also when nothing was there, or the errno of the unlink.
int set_File_Removed(const std::string& path);

// Whether `name` is one of the temporary files set_File_Replace makes for a
// file named `base`: "." + base + "." and six letters or digits, nothing more.
bool get_Replace_Leftover_Name(const std::string& base, const std::string& name);
// Removes the temporary files that replaces of `path` cut short by a crash
// left in the directory its writes land in (a symlink followed, as a replace
// follows it), and syncs it; what was removed goes to `removed`.
void set_Replace_Leftovers_Removed(const std::string& path, std::vector<std::string>* removed);

// The largest configuration file the daemon reads.
const size_t max_config_file_size = 1 << 20;

// Reads a whole configuration file (a symlink to one is followed). False,
// with the reason in `error`, when it cannot be opened or read, is not a
// regular file (a FIFO or device is never waited on) or is over `max_bytes`.
bool get_File_Content(const std::string& path, std::string* content, std::string* error = nullptr,
                      size_t max_bytes = max_config_file_size);

// Reads a kernel table such as /proc/meminfo, at most `max_bytes` of it:
// whatever stands in for the table is never waited on nor read whole.
// False only when it cannot be opened or read.
bool get_Table_Text(const char* path, size_t max_bytes, std::string* content);

#endif
