#ifndef LUMERION_CHILD_ENVIRONMENT_H
#define LUMERION_CHILD_ENVIRONMENT_H

#include <stdlib.h>

#include <string>
#include <vector>

// The environment every tool the daemon or the CLI runs gets: PATH as this process got it, LANG=C.UTF-8
// so that each tool answers in the words and numbers it is read for, and only what the tools need by
// name, the system bus's address for the D-Bus clients (systemctl, hostnamectl, nmcli, netplan). An
// operator's variables (SNAP, LC_ALL, LD_PRELOAD, ...) never reach netplan apply or nmcli.
class Child_Environment {
public:
    Child_Environment()
    {
        static const char* const kept[] = {
            "PATH",
            "DBUS_SYSTEM_BUS_ADDRESS",
#ifdef LUMERION_SANITIZER_BUILD
            // A sanitizer build's own programs report as the one that started them.
            "ASAN_OPTIONS",
            "LSAN_OPTIONS",
            "UBSAN_OPTIONS",
            "TSAN_OPTIONS",
#endif
        };
        for (const char* name : kept) {
            const char* value = getenv(name);
            if (value != nullptr)
                entries.push_back(std::string(name) + "=" + value);
        }
        entries.emplace_back("LANG=C.UTF-8");
        for (std::string& entry : entries)
            pointers.push_back(&entry[0]);
        pointers.push_back(nullptr);
    }
    Child_Environment(const Child_Environment&) = delete;
    Child_Environment& operator=(const Child_Environment&) = delete;
    char** get()
    {
        return pointers.data();
    }

private:
    std::vector<std::string> entries;
    std::vector<char*> pointers;
};

#endif
