#ifndef LUMERION_HOST_REPORT_H
#define LUMERION_HOST_REPORT_H

// Sends the host report to the BMC when `due` (at start-up and every 120 s),
// or when the default-route facts changed since the last report. True when a
// report was queued.
bool update_Broadcast_Packet(bool due);

#endif
