#include "app/stop_signals_linux.h"

#include <pthread.h>

#include "common/log.h"

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void endBySignal(int signal) {
    flushLog();
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::signal(signal, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
}
