// Stopping a run: Ctrl-C, kill (SIGINT, SIGTERM, SIGHUP) or a full disk.
// Workers finish no output after a stop; what they were writing is removed.
#ifndef MRVLN_TOOLS_MRVCONVERT_STOP_H
#define MRVLN_TOOLS_MRVCONVERT_STOP_H

namespace mrvconvert {

// A second signal ends the process at once; the next run removes what it
// left.
void install_stop_handlers();
bool stop_requested();
void request_stop();  // for a full disk or a folder that cannot be written
int stop_signal();    // the signal that stopped the run, or 0
// Ends the process as the signal would have, once the run is wound down.
[[noreturn]] void die_of_signal(int signal_number);

}  // namespace mrvconvert

#endif
