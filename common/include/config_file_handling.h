#ifndef LUMERION_CONFIG_FILE_HANDLING_H
#define LUMERION_CONFIG_FILE_HANDLING_H

#include <stdint.h>
#include <string>

// Reads and edits line-oriented configuration files (ifupdown stanzas) by
// key, leaving every other line byte for byte as it was. A keyed line holds
// the key directly followed by `token`; a '#' before the key comments it out;
// lines containing `ignore_str` (when given) are never read or changed.
// Edits replace the file atomically, keeping its mode and owner.
class Config_File {
public:
    // 0 value found; 1 file not readable and writable; 2 `buffer` null;
    // 3 file cannot be opened, or key not found (`buffer` untouched).
    static uint8_t get_Data(const char* file_name, const char* name, char* buffer, unsigned int buffer_length,
                            char token, const char* ignore_str, bool ignore_comment_flag);
    // Replaces the value on every uncommented keyed line, or appends one.
    // 0 a line was replaced; 2 the key was appended, or the file could not
    // be opened or rewritten (it is then unchanged).
    static uint8_t set_Data(const char* file_name, const char* name, const char* data, char token,
                            const char* ignore_str);
    // Puts a '#' directly before the key (true) or takes it away (false) on
    // every keyed line. 0 a keyed line was found; 1 none, or the file could
    // not be opened or rewritten (it is then unchanged).
    static uint8_t set_Data_Comment(const char* file_name, const char* name, bool set_comment, char token,
                                    const char* ignore_str);

    // The same rules on text, for one line or a whole file's content.
    static bool get_Line_Value(const std::string& line, const std::string& name, char token,
                               const char* ignore_str, bool ignore_comment_flag, std::string* value);
    static std::string set_Data_Text(const std::string& content, const std::string& name,
                                     const std::string& data, char token, const char* ignore_str,
                                     bool* replaced);
    static std::string set_Data_Comment_Text(const std::string& content, const std::string& name,
                                             bool set_comment, char token, const char* ignore_str,
                                             bool* found);

    // Options of one stanza, for ifupdown. The stanza is the line whose first
    // words are `header` (e.g. "iface eth0 inet") and the lines after it up to
    // the next line that starts a stanza. An option line's first word is its
    // key, followed by blanks or a tab; "#key" is the line commented out.
    // Lines outside the stanza are never read or changed, line ends included.

    // The word after the header (`name` empty), or the value of the stanza's
    // first active `name` line; false when there is none.
    static bool get_Stanza_Value(const std::string& content, const std::string& header,
                                 const std::string& name, std::string* value);
    // Sets the word after the header (`name` empty), or the value of the first
    // active `name` line; without one, restores the last commented `name` line
    // with `data`, or adds a line at the end of the stanza. False when the
    // content has no such stanza (it is then unchanged).
    static bool set_Stanza_Value(std::string* content, const std::string& header, const std::string& name,
                                 const std::string& data);
    // Comments out every active `name` line (true); or, when the stanza has
    // none, restores its last commented one (false). False without the stanza.
    static bool set_Stanza_Comment(std::string* content, const std::string& header, const std::string& name,
                                   bool set_comment);
};

#endif
