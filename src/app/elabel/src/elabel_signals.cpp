#include "elabel_signals.h"

#include <pthread.h>

namespace {

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

} // namespace

void elabel_hold_signals(elabel_held_signals *held)
{
    sigset_t ending;
    sigemptyset(&ending);
    for (int sig : ENDING_SIGNALS) {
        sigaddset(&ending, sig);
    }
    held->held = pthread_sigmask(SIG_BLOCK, &ending, &held->saved) == 0;
}

void elabel_release_signals(const elabel_held_signals *held)
{
    if (held->held) {
        (void)pthread_sigmask(SIG_SETMASK, &held->saved, nullptr);
    }
}

bool elabel_held_signal_pending()
{
    sigset_t pending;
    if (sigpending(&pending) != 0) {
        return false;
    }
    for (int sig : ENDING_SIGNALS) {
        if (sigismember(&pending, sig) == 1) {
            return true;
        }
    }
    return false;
}
