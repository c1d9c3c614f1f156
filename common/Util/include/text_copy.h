#ifndef LUMERION_TEXT_COPY_H
#define LUMERION_TEXT_COPY_H

#include <stddef.h>
#include <string.h>

#include <string>

// Copies at most `buffer_length` bytes of `text` and zero-fills the rest of
// the buffer, so nothing of an older value survives. A text that fills the
// buffer has no terminator. Returns the bytes copied.
inline size_t set_Fixed_Length_Copy(char* buffer, size_t buffer_length, const char* text, size_t text_length)
{
    if (buffer == nullptr || buffer_length == 0)
        return 0;
    size_t n = text_length < buffer_length ? text_length : buffer_length;
    if (n > 0)
        memcpy(buffer, text, n);
    memset(buffer + n, 0, buffer_length - n);
    return n;
}

inline size_t set_Fixed_Length_Copy(char* buffer, size_t buffer_length, const std::string& text)
{
    return set_Fixed_Length_Copy(buffer, buffer_length, text.data(), text.size());
}

// The same, but always terminated: a text longer than `buffer_length - 1` is cut.
inline size_t set_Terminated_Copy(char* buffer, size_t buffer_length, const char* text, size_t text_length)
{
    if (buffer == nullptr || buffer_length == 0)
        return 0;
    size_t n = set_Fixed_Length_Copy(buffer, buffer_length - 1, text, text_length);
    buffer[buffer_length - 1] = '\0';
    return n;
}

#endif
