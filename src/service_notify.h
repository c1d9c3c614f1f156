#ifndef LUMERION_SERVICE_NOTIFY_H
#define LUMERION_SERVICE_NOTIFY_H

#include <stdint.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <string>

// systemd's notify protocol, spoken directly: one datagram per message to the
// socket NOTIFY_SOCKET names. Without it every call here does nothing.

// The address NOTIFY_SOCKET names: a path, or an abstract name after "@".
// False for a value that is neither (empty, relative, or too long).
bool get_Notify_Address(const std::string& value, struct sockaddr_un* address, socklen_t* length);

// The watchdog interval in microseconds that WATCHDOG_USEC and WATCHDOG_PID
// give this process (`own_pid`); 0 when the watchdog is not ours or not set.
uint64_t get_Watchdog_Usec(const char* usec_text, const char* pid_text, long own_pid);

// Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID and unsets them, so that
// no child inherits them. Call before any thread starts: unsetenv is not thread-safe.
void init_Service_Notify();
// Whether NOTIFY_SOCKET named a socket: without one there is nobody to tell.
bool get_Service_Notify_Active();
// The watchdog interval to keep (0: none).
uint64_t get_Service_Watchdog_Usec();
// Sends one message ("READY=1", "WATCHDOG=1", ...); false when none could be sent.
bool set_Service_Notify(const std::string& message);
// Sends "STATUS=<text>" when it differs from the last status sent.
void set_Service_Status(const std::string& text);

#endif
