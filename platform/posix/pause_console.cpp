// The console's final key press where there is no command interpreter with "pause": the same
// prompt, one key without Enter on a terminal, one byte (or the end of input) otherwise, so it
// never waits on a pipe or /dev/null.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "win_base.h"

namespace {

constexpr const char* kPausePrompt = "Press any key to continue . . . ";

void readOneByte() {
    char key;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
}

}  // namespace

void pauseConsole() {
    std::printf("%s", kPausePrompt);
    std::fflush(stdout);
    termios saved;
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios raw = saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
            readOneByte();
            tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        } else {
            readOneByte();
        }
    } else {
        readOneByte();
    }
    std::printf("\n");
    std::fflush(stdout);
}
