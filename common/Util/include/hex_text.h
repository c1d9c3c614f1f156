#ifndef LUMERION_HEX_TEXT_H
#define LUMERION_HEX_TEXT_H

#include <stdint.h>

#include <string>

// Appends the two hex digits of `byte`, in lower or upper case.
inline void append_Hex_Byte(std::string* text, uint8_t byte, bool upper_case = false)
{
    const char* digits = upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
    *text += digits[byte >> 4];
    *text += digits[byte & 0x0F];
}

#endif
