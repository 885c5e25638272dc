// The signals that ask the tool to end, caught so that it ends cleanly, then by them.
#include "cli/interrupt.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace aamsg {

namespace {

volatile std::sig_atomic_t caught = 0;  // the signal, or on Windows the console event, plus one

#ifdef _WIN32

BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    caught = static_cast<std::sig_atomic_t>(event + 1);
    return TRUE;
}

#else

void onSignal(int signal) { caught = signal; }

#endif

}  // namespace

void catchInterrupts() {
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read of standard input that waits returns at once
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

bool interrupted() { return caught != 0; }

void endByInterrupt() {
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef _WIN32
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
#else
    const int signal = caught != 0 ? static_cast<int>(caught) : SIGINT;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
    _exit(128 + signal);
#endif
}

}  // namespace aamsg
