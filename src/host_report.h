#ifndef LUMERION_HOST_REPORT_H
#define LUMERION_HOST_REPORT_H

// Sends the host report to the BMC when it is due: when forced, on every
// 60th unforced call, or when the default-route facts changed. True when a
// report was queued.
bool update_Broadcast_Packet(bool product_info_send);

#endif
