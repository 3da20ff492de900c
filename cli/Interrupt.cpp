#include "Interrupt.h"

#include <csignal>

namespace kxcli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int signal) {
    g_interrupted = 1;
    std::signal(signal, SIG_DFL);
}

}  // namespace

void InstallInterruptHandler() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

bool Interrupted() { return g_interrupted != 0; }

}  // namespace kxcli
