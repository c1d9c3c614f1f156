#ifndef LUMERION_TEXT_LINES_H
#define LUMERION_TEXT_LINES_H

#include <stddef.h>

#include <string>

// The lines of a text that a host tool or kernel table gave, one at a time,
// without their "\n"; a last line without one counts too.
class Text_Lines {
public:
    explicit Text_Lines(const std::string& text) : text(text) {}

    bool get_Next_Line(std::string* line)
    {
        if (start >= text.size())
            return false;
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        line->assign(text, start, end - start);
        start = end + 1;
        return true;
    }

private:
    const std::string& text;
    size_t start = 0;
};

#endif
