#ifndef LUMERION_I2C_BMC_PACKET_THREAD_H
#define LUMERION_I2C_BMC_PACKET_THREAD_H

#include <stdint.h>

#include "BMC_data_protocol.h"

// Starts the thread that owns /dev/i2c-2 and returns once it runs.
// 0 started; 1 `packet_receive_error_handler` is null; 2 the device could
// not be opened (the thread has ended, nothing is running); 3 the thread
// could not be created.
int init_I2C_BMC_Packet_Thread(int (*broadcast_packet_handler)(const BMC::Packet&),
                               int (*packet_receive_error_handler)(BMC::Packet*, uint8_t));

// Asks the thread to end and waits for it; returns at once when it is not running.
void set_I2C_BMC_Packet_Thread_Stop();

bool get_I2C_BMC_Packet_Thread_Start_Flag();

// Asks the thread to check, before its next write, that /dev/i2c-2 still
// names the device it has open, and to open a replaced node again (it also
// checks after each failed write).
void set_I2C_BMC_Bus_Check();
// True once the node was replaced and could not be opened again: the thread
// has ended, and the daemon ends so that it is started again.
bool get_I2C_BMC_Bus_Lost();
// Called on the thread as it ends for a lost bus, so that the daemon's loop wakes to end too.
void set_I2C_BMC_Bus_Lost_Wake(void (*wake)());

// What the thread has written: packets written and failed, and whether a
// write has been in progress for more than `stall_ms` (a wedged bus).
struct Transmit_Health {
    unsigned long written = 0;
    unsigned long failed = 0;
    bool stalled = false;
    bool idle = true; // nothing queued and no write in progress
};
Transmit_Health get_I2C_BMC_Transmit_Health(long long stall_ms);

// Queues a deep copy of `request` for the bus. When the request asks for a
// response, waits 2 to 3 s for one and copies it into `*response`.
// 0 queued; 1 the thread is not running; 2 `response` is null; 3 the
// transmit queue is full and the packet was dropped (one ERROR line for
// each run of drops).
uint8_t set_I2C_BMC_Packet_Request(const BMC::Packet& request, BMC::Packet* response);

// Turns one network-settings packet from the BMC (subaddress 0 to 7) into
// the matching staging, apply or hostname call. A text ends at its NUL or at
// the end of the data; a packet without data changes nothing. Only a WRITE
// from node BMC to address NETWORK, not broadcast, is taken, with a UINT8
// for the mode and the apply and a STRING for the rest: any other header gets
// one ERROR line and changes nothing.
// 0 the call was made and took the value; 1 it refused the value or the
// apply failed; 2 no packet, a refused header, no data, or a subaddress
// without a call.
uint8_t I2C_BMC_Packet_Hander(BMC::Packet* packet);

#endif
