// The product's key-press wait on a real terminal (a pseudo-terminal): however the wait ends, by a
// key, by Ctrl-C or Ctrl-\ typed there, or by SIGTERM, the terminal gets its echo and line editing
// back, and a signal still ends the process as that signal.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/transcript.h"

namespace {

const std::string& kPrompt = transcript::kKeyPrompt;
// Only for a program that never gets as far as it should: each step takes milliseconds.
constexpr int kStepLimitMs = 10000;

// Reads the terminal's output until it holds `text`, or nothing more comes within the limit.
bool readUntil(int master, const std::string& text) {
    std::string got;
    while (got.find(text) == std::string::npos) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, kStepLimitMs) <= 0) return false;
        char block[256];
        const ssize_t count = read(master, block, sizeof block);
        if (count <= 0) return false;
        got.append(block, static_cast<size_t>(count));
    }
    return true;
}

bool echoes(int master) {
    termios settings;
    return tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) != 0 &&
           (settings.c_lflag & ICANON) != 0;
}

// The prompt is printed just before the terminal is switched to single keys without echo.
bool waitForKeyMode(int master) {
    for (int waited = 0; waited < kStepLimitMs; ++waited) {
        if (!echoes(master)) return true;
        usleep(1000);
    }
    return false;
}

struct EndCase {
    const char* name;
    const char* typed;  // nullptr: SIGTERM from outside
    int signal;         // 0: a normal exit with status 0
};

TEST(KeyPressTerminal, EveryEndGivesTheTerminalBack) {
    const std::vector<EndCase> cases = {
        {"a key", "x", 0},
        {"Ctrl-C", "\x03", SIGINT},
        {"Ctrl-\\", "\x1c", SIGQUIT},
        {"SIGTERM", nullptr, SIGTERM},
    };
    for (const auto& c : cases) {
        ScratchDir dir;  // no kit: the run goes straight to the key press
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(pid, 0) << c.name;
        if (pid == 0) {
            const rlimit noCore{0, 0};  // Ctrl-\ would leave a core file
            setrlimit(RLIMIT_CORE, &noCore);
            if (chdir(dir.path().c_str()) != 0) _exit(127);
            alarm(kRunLimitSeconds);
            execl(TALVERON_UPDATE_EXE, TALVERON_UPDATE_EXE, nullptr);
            _exit(127);
        }
        // Not checked for echo here: the program may already be waiting for its key.
        EXPECT_TRUE(readUntil(master, kPrompt)) << c.name;
        EXPECT_TRUE(waitForKeyMode(master)) << c.name;
        if (c.typed != nullptr) {
            EXPECT_EQ(write(master, c.typed, 1), 1) << c.name;
        } else {
            kill(pid, SIGTERM);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (c.signal == 0) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << c.name;
        }
        EXPECT_TRUE(echoes(master)) << c.name;
        close(master);
    }
}

// A key that sends several bytes is taken whole: what the shell reads next (here od, from the
// same terminal) gets none of them.
TEST(KeyPressTerminal, AKeyIsTakenWhole) {
    for (const std::string key : {"\x1b[A", "\x1bOP", "\xc3\xa9"}) {  // up arrow, F1, e acute
        ScratchDir dir;
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (chdir(dir.path().c_str()) != 0) _exit(127);
            alarm(kRunLimitSeconds);
            execl("/bin/sh", "sh", "-c",
                  "\"$0\"; stty -icanon -echo min 0 time 3; printf '[left:'; od -An -tx1; "
                  "printf ']'",
                  TALVERON_UPDATE_EXE, nullptr);
            _exit(127);
        }
        EXPECT_TRUE(readUntil(master, kPrompt));
        EXPECT_TRUE(waitForKeyMode(master));
        EXPECT_EQ(write(master, key.data(), key.size()), ssize_t(key.size()));
        std::string got;
        for (char block[256];;) {
            pollfd ready{master, POLLIN, 0};
            if (poll(&ready, 1, kStepLimitMs) <= 0) break;
            const ssize_t count = read(master, block, sizeof block);
            if (count <= 0) break;
            got.append(block, size_t(count));
            if (got.find(']') != std::string::npos && got.find("[left:") != std::string::npos)
                break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        const size_t left = got.find("[left:");
        ASSERT_NE(left, std::string::npos) << got;
        EXPECT_EQ(got.substr(left), "[left:]") << got.substr(left);
        close(master);
    }
}

}  // namespace
