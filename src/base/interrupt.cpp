#include "base/interrupt.h"

#include <signal.h>
#include <unistd.h>

namespace nep {

namespace {

volatile sig_atomic_t g_signal = 0;

extern "C" void on_interrupt(int sig) {
    if (g_signal != 0) _exit(interrupt_status(sig));
    g_signal = sig;
}

}  // namespace

void catch_interrupts() {
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int interrupt_signal() { return g_signal; }

}  // namespace nep
