// Holds the signals that end a process from a terminal or a service manager
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP) while the label is rewritten.
// Nothing is installed: a signal that arrives meanwhile stays pending and takes
// its usual effect when the caller's mask comes back.
#ifndef ELABEL_SIGNALS_H
#define ELABEL_SIGNALS_H

#include <csignal>

struct elabel_held_signals {
    sigset_t saved;
    bool held;
};

void elabel_hold_signals(elabel_held_signals *held);
void elabel_release_signals(const elabel_held_signals *held);
// True when one of those signals is held now and waits to take effect.
bool elabel_held_signal_pending();

#endif
