// Shell words: a value quoted so that a command line names it as one word,
// and a line's words read back as the shell would read them, for a command
// that needs no shell.
#include <string.h>

#include <string>
#include <vector>

#include "extra_command_handling.h"

std::string get_Shell_Quoted_Word(const std::string& text)
{
    std::string word;
    word.reserve(text.size() + 2);
    word.push_back('\'');
    for (char c : text) {
        if (c == '\'')
            word.append("'\\''");
        else
            word.push_back(c);
    }
    word.push_back('\'');
    return word;
}

std::string get_Shell_Word(const std::string& text)
{
    const char* literal = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@%+=:,./_-";
    if (!text.empty() && text.find_first_not_of(literal) == std::string::npos)
        return text;
    return get_Shell_Quoted_Word(text);
}

void set_Line_End_Cut(char* text)
{
    for (const char* ends : {"\r", "\n"}) {
        size_t start = strspn(text, ends);
        if (text[start] == '\0')
            continue;
        text[start + strcspn(text + start, ends)] = '\0';
    }
}

bool get_Plain_Words(const std::string& line, std::vector<std::string>* words)
{
    static const char literal[] = "@%+=:,./_-";
    words->clear();
    std::string word;
    for (char c : line + " ") {
        if (c == ' ') {
            if (!word.empty())
                words->push_back(word);
            word.clear();
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   strchr(literal, c) != nullptr) {
            word += c;
        } else {
            words->clear();
            return false;
        }
    }
    // "exec" only makes the shell become the command, which a plain run is already.
    if (!words->empty() && words->front() == "exec")
        words->erase(words->begin());
    // A leading NAME=value is an assignment to the shell, not a program.
    if (words->empty() || words->front().find('=') != std::string::npos) {
        words->clear();
        return false;
    }
    return true;
}

bool get_Shell_Words(const std::string& line, std::vector<std::string>* words)
{
    static const char literal[] = "@%+=:,./_-";
    words->clear();
    std::string word;
    bool in_word = false;
    bool quoted = false;
    bool first_quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c == '\'')
                quoted = false;
            else
                word += c;
            continue;
        }
        if (c == ' ') {
            if (in_word)
                words->push_back(word);
            word.clear();
            in_word = false;
            continue;
        }
        if (c == '\'' || (c == '\\' && i + 1 < line.size() && line[i + 1] == '\'')) {
            // A quoted piece, or the escaped quote get_Shell_Quoted_Word puts between two of them.
            if (words->empty() && !in_word)
                first_quoted = true;
            if (c == '\\')
                word += line[++i];
            else
                quoted = true;
            in_word = true;
            continue;
        }
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              strchr(literal, c) != nullptr)) {
            words->clear();
            return false;
        }
        word += c;
        in_word = true;
    }
    if (quoted) {
        words->clear();
        return false;
    }
    if (in_word)
        words->push_back(word);
    // "exec" only makes the shell become the command, which a plain run is already.
    if (!words->empty() && words->front() == "exec" && !first_quoted)
        words->erase(words->begin());
    // A leading NAME=value is an assignment to the shell, not a program.
    if (words->empty() || words->front().find('=') != std::string::npos) {
        words->clear();
        return false;
    }
    return true;
}
