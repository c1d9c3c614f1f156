// Option lines inside one ifupdown stanza: reads and edits never reach the
// lines of another stanza, and every line they do not change keeps its bytes.
#include <string.h>

#include <string>
#include <vector>

#include "config_file_handling.h"

namespace {

const char* const blanks = " \t";
const char* const default_indent = "    ";

// Words that start a new stanza in an interfaces file ("allow-" starts one too).
const char* const stanza_words[] = {"iface",  "auto",         "mapping",   "source", "source-directory",
                                    "rename", "no-auto-down", "no-scripts"};

struct Line {
    std::string text; // without its line end
    std::string end;  // "\n", "\r\n", or "" or "\r" for a last line without one
};

std::vector<Line> get_Lines(const std::string& content)
{
    std::vector<Line> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t newline = content.find('\n', start);
        Line line;
        if (newline == std::string::npos) {
            line.text = content.substr(start);
            start = content.size();
        } else {
            line.text = content.substr(start, newline - start);
            line.end = "\n";
            start = newline + 1;
        }
        // A CR before the line end, or ending the file, is no part of the line: ifupdown trims it too.
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.end = "\r" + line.end;
        }
        lines.push_back(line);
    }
    return lines;
}

std::string get_Content(const std::vector<Line>& lines)
{
    std::string content;
    for (const Line& line : lines)
        content += line.text + line.end;
    return content;
}

// The word starting at or after `from`, and where it starts and ends.
bool get_Word(const std::string& text, size_t from, size_t* start, size_t* end)
{
    *start = text.find_first_not_of(blanks, from);
    if (*start == std::string::npos)
        return false;
    *end = text.find_first_of(blanks, *start);
    if (*end == std::string::npos)
        *end = text.size();
    return true;
}

std::string get_First_Word(const std::string& text)
{
    size_t start = 0;
    size_t end = 0;
    return get_Word(text, 0, &start, &end) ? text.substr(start, end - start) : "";
}

bool get_Stanza_Start(const std::string& text)
{
    std::string word = get_First_Word(text);
    if (word.compare(0, 6, "allow-") == 0)
        return true;
    for (const char* starter : stanza_words)
        if (word == starter)
            return true;
    return false;
}

// Where the header's words end in `text`, when its first words are the header's.
bool get_Header_End(const std::string& text, const std::string& header, size_t* header_end)
{
    size_t at = 0;
    size_t h_at = 0;
    size_t start = 0;
    size_t end = 0;
    size_t h_start = 0;
    size_t h_end = 0;
    while (get_Word(header, h_at, &h_start, &h_end)) {
        if (!get_Word(text, at, &start, &end) ||
            text.compare(start, end - start, header, h_start, h_end - h_start) != 0)
            return false;
        at = end;
        h_at = h_end;
    }
    *header_end = at;
    return at != 0;
}

// The stanza's header line and the index just past its last line.
bool get_Stanza_Span(const std::vector<Line>& lines, const std::string& header, size_t* first, size_t* last)
{
    size_t header_end = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!get_Header_End(lines[i].text, header, &header_end))
            continue;
        *first = i;
        *last = i + 1;
        while (*last < lines.size() && !get_Stanza_Start(lines[*last].text))
            ++*last;
        return true;
    }
    return false;
}

// Where the value of a keyed line starts (after the key and its blanks).
size_t get_Value_Start(const std::string& text, const std::string& key)
{
    size_t key_start = text.find_first_not_of(blanks);
    size_t after = key_start + key.size();
    size_t value = text.find_first_not_of(blanks, after);
    return value == std::string::npos ? text.size() : value;
}

std::string get_Value(const std::string& text, size_t start)
{
    size_t last = text.find_last_not_of(blanks);
    return last == std::string::npos || last < start ? "" : text.substr(start, last + 1 - start);
}

// The line with its value from `start` on replaced; a key alone gets a blank.
void set_Line_Value(Line* line, size_t start, const std::string& data)
{
    line->text = line->text.substr(0, start);
    if (line->text.empty() || strchr(blanks, line->text.back()) == nullptr)
        line->text += ' ';
    line->text += data;
}

// The indexes of the stanza's option lines whose first word is `word`.
std::vector<size_t> get_Keyed_Lines(const std::vector<Line>& lines, size_t first, size_t last,
                                    const std::string& word)
{
    std::vector<size_t> found;
    // No key is empty: blank lines are not options.
    if (word.empty() || word == "#")
        return found;
    for (size_t i = first + 1; i < last; ++i)
        if (get_First_Word(lines[i].text) == word)
            found.push_back(i);
    return found;
}

// Takes away the '#' directly before the key.
void set_Uncommented(Line* line)
{
    line->text.erase(line->text.find('#'), 1);
}

// A new option line after the stanza's last option line, indented like it.
void set_Added_Option(std::vector<Line>* lines, size_t first, size_t last, const std::string& text)
{
    size_t after = first;
    for (size_t i = first + 1; i < last; ++i) {
        const std::string& t = (*lines)[i].text;
        size_t word = t.find_first_not_of(blanks);
        if (word != std::string::npos && t[word] != '#')
            after = i;
    }
    const Line& previous = (*lines)[after];
    std::string indent = default_indent;
    if (after != first)
        indent = previous.text.substr(0, previous.text.find_first_not_of(blanks));
    // A last line gets its line end, so the added line cannot run on from it.
    if ((*lines)[after].end.find('\n') == std::string::npos)
        (*lines)[after].end += "\n";
    Line added;
    added.text = indent + text;
    added.end = (*lines)[after].end;
    lines->insert(lines->begin() + static_cast<std::ptrdiff_t>(after + 1), added);
}

} // namespace

bool Config_File::get_Stanza_Value(const std::string& content, const std::string& header,
                                   const std::string& name, std::string* value)
{
    std::vector<Line> lines = get_Lines(content);
    size_t first = 0;
    size_t last = 0;
    if (!get_Stanza_Span(lines, header, &first, &last))
        return false;
    if (name.empty()) {
        size_t header_end = 0;
        size_t start = 0;
        size_t end = 0;
        get_Header_End(lines[first].text, header, &header_end);
        if (!get_Word(lines[first].text, header_end, &start, &end))
            return false;
        *value = lines[first].text.substr(start, end - start);
        return true;
    }
    std::vector<size_t> active = get_Keyed_Lines(lines, first, last, name);
    if (active.empty())
        return false;
    const std::string& text = lines[active[0]].text;
    *value = get_Value(text, get_Value_Start(text, name));
    return true;
}

bool Config_File::set_Stanza_Value(std::string* content, const std::string& header, const std::string& name,
                                   const std::string& data)
{
    std::vector<Line> lines = get_Lines(*content);
    size_t first = 0;
    size_t last = 0;
    if (!get_Stanza_Span(lines, header, &first, &last))
        return false;
    if (name.empty()) {
        Line& line = lines[first];
        size_t header_end = 0;
        size_t start = 0;
        size_t end = 0;
        get_Header_End(line.text, header, &header_end);
        if (get_Word(line.text, header_end, &start, &end))
            line.text.replace(start, end - start, data);
        else
            line.text += " " + data;
    } else {
        std::vector<size_t> active = get_Keyed_Lines(lines, first, last, name);
        std::vector<size_t> commented = get_Keyed_Lines(lines, first, last, "#" + name);
        if (!active.empty()) {
            Line& line = lines[active[0]];
            set_Line_Value(&line, get_Value_Start(line.text, name), data);
        } else if (!commented.empty()) {
            Line& line = lines[commented.back()];
            set_Uncommented(&line);
            set_Line_Value(&line, get_Value_Start(line.text, name), data);
        } else {
            set_Added_Option(&lines, first, last, name + " " + data);
        }
    }
    *content = get_Content(lines);
    return true;
}

bool Config_File::set_Stanza_Comment(std::string* content, const std::string& header, const std::string& name,
                                     bool set_comment)
{
    std::vector<Line> lines = get_Lines(*content);
    size_t first = 0;
    size_t last = 0;
    if (!get_Stanza_Span(lines, header, &first, &last))
        return false;
    std::vector<size_t> active = get_Keyed_Lines(lines, first, last, name);
    if (set_comment) {
        for (size_t i : active) {
            std::string& text = lines[i].text;
            text.insert(text.find_first_not_of(blanks), "#");
        }
    } else if (active.empty()) {
        std::vector<size_t> commented = get_Keyed_Lines(lines, first, last, "#" + name);
        if (!commented.empty())
            set_Uncommented(&lines[commented.back()]);
    }
    *content = get_Content(lines);
    return true;
}
