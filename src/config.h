#ifndef LUMERION_CONFIG_H
#define LUMERION_CONFIG_H

#include <stddef.h>

// Board identity texts, copied into caller buffers.

// The serial number from the board EEPROM window in /dev/mem, or "N/A".
// Returns the length of the text in `buffer`, modulo 256.
int get_Config_Serial_Number(char* buffer, unsigned int buffer_length);

int get_Config_Product_Name(char* buffer); // "Lumerion KT": 12 bytes, returns 11
int get_Config_Version(char* buffer);      // "v1.0.3": 7 bytes, returns 6

// The operating system's pretty name; `buffer` needs 128 bytes.
int get_Config_OS_Info(char* buffer);

// Applies a hostname asked for by the BMC through hostnamectl, once per
// distinct name the host took. True when the host has the name; false for a
// name that is not a valid host name, or when hostnamectl failed (the name is
// then not remembered, so asking again retries).
bool set_Config_Hostname(char* buffer);

// A record in an EEPROM window image: the byte at `address` must be
// `config_code`; the text follows it and ends at a NUL or the window's end.
// False when the marker is missing.
bool get_EEPROM_Record_Text(const unsigned char* window, size_t window_length, size_t address,
                            unsigned char config_code, const char** text, size_t* text_length);

#endif
