// The console's final key press where there is no command interpreter with "pause": the same
// prompt, one key without Enter on a terminal, one byte (or the end of input) otherwise, so it
// never waits on a pipe or /dev/null.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/pause_prompt.h"
#include "platform/win_base.h"

namespace {

// The keys and signals that end a program waiting on its terminal. Each would leave the terminal
// without echo and line editing, as cmd never does.
constexpr int kEndingSignals[] = {SIGINT, SIGQUIT, SIGTERM};
constexpr size_t kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

// The settings to put back, for the signal handler too: written before it can run.
termios gSavedTerminal;

// Only async-signal-safe calls: the settings go back, then the signal again, now with its default
// action (SA_RESETHAND), so that the exit status still says what ended the process. It is
// delivered as the handler returns.
void restoreTerminalAndEnd(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
    raise(signal);
}

// A signal the process ignores (started with nohup, or in the background by some shells) stays
// ignored: handling it would end a process that was meant to go on.
void handleEndingSignals(struct sigaction (&previous)[kEndingSignalCount]) {
    struct sigaction action {};
    action.sa_handler = restoreTerminalAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kEndingSignalCount; ++i) {
        if (sigaction(kEndingSignals[i], nullptr, &previous[i]) != 0) continue;
        if (previous[i].sa_handler == SIG_IGN) continue;
        sigaction(kEndingSignals[i], &action, nullptr);
    }
}

void restoreSignals(const struct sigaction (&previous)[kEndingSignalCount]) {
    for (size_t i = 0; i < kEndingSignalCount; ++i) {
        sigaction(kEndingSignals[i], &previous[i], nullptr);
    }
}

void readOneByte() {
    char key;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
}

// The bytes a key sends after its first (an arrow key's escape sequence, a letter in UTF-8) come
// together, within a tenth of a second: all are taken, so that none is left for the shell. Bounded,
// so a key held down cannot keep the program here.
constexpr size_t kMostKeyBytes = 16;

void readRestOfKey(const termios& raw) {
    termios rest = raw;
    rest.c_cc[VMIN] = 0;
    rest.c_cc[VTIME] = 1;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &rest) != 0) {
        return;
    }
    char bytes[kMostKeyBytes];
    size_t taken = 0;
    while (taken < kMostKeyBytes) {
        const ssize_t count = read(STDIN_FILENO, bytes, kMostKeyBytes - taken);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        taken += static_cast<size_t>(count);
    }
}

}  // namespace

void pauseConsole() {
    std::printf("%s", kPausePrompt);
    std::fflush(stdout);
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &gSavedTerminal) == 0) {
        termios raw = gSavedTerminal;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        // Handled before the terminal changes, and until it is back: a signal in between finds
        // the settings to restore.
        struct sigaction previous[kEndingSignalCount] = {};
        handleEndingSignals(previous);
        if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
            readOneByte();
            readRestOfKey(raw);
            tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
        } else {
            readOneByte();
        }
        restoreSignals(previous);
    } else {
        readOneByte();
    }
    std::printf("\n");
    std::fflush(stdout);
}
