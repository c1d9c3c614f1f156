#ifndef LUMERION_FUZZ_INPUT_H
#define LUMERION_FUZZ_INPUT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// Takes a fuzz input apart: single bytes for choices, and texts that run up
// to the next 0xFF byte (or the end).
class Fuzz_Input {
public:
    Fuzz_Input(const uint8_t* data, size_t size) : data(data), size(size) {}
    bool empty() const { return at >= size; }
    uint8_t get_Byte() { return at < size ? data[at++] : 0; }
    std::string get_Text()
    {
        size_t start = at;
        while (at < size && data[at] != 0xFF)
            ++at;
        std::string text(reinterpret_cast<const char*>(data + start), at - start);
        if (at < size)
            ++at;
        return text;
    }
    std::string get_Rest()
    {
        std::string text(reinterpret_cast<const char*>(data + at), size - at);
        at = size;
        return text;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

#endif
