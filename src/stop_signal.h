#ifndef LUMERION_STOP_SIGNAL_H
#define LUMERION_STOP_SIGNAL_H

// The daemon's stop: SIGTERM (systemctl stop, a package upgrade) or SIGINT
// only marks a pipe, so that the main loop ends between two passes and no new
// step of a settings change starts after it.

// Installs the handlers; false when the pipe cannot be made (the signals then keep their default).
bool init_Stop_Signal();
// The pipe's read end, readable once a stop was asked for: the main loop waits on it.
int get_Stop_Signal_Descriptor();
// Whether a stop was asked for.
bool get_Stop_Requested();

#endif
