// brevanto-device's command line and its raw MIDI byte stream, run as a user starts it. The raw
// stream is a pseudo-terminal in raw mode: the test writes the updater's side on the master, the
// device plays on the slave as on a gadget's raw MIDI file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/scratch_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Only for a device that stops reading or never answers: it reads and answers within milliseconds.
constexpr int kReplyLimitMs = 10000;

TEST(BrevantoDevice, ExitAfterOutsideItsRangeIsRefused) {
    const std::string range = " (seconds, 1 to 604800)\n";
    for (const std::string value :
         {"0", "-1", "+5", " 5", "5s", "604801", "9223372036854775808", "99999999999999999999"}) {
        ScratchDir dir;
        const ProcessResult result =
            runProcess(BREVANTO_DEVICE_EXE, {"--exit-after=" + value}, dir.path());
        EXPECT_EQ(result.exitStatus, 2) << value;
        EXPECT_EQ(result.out, "") << value;
        const std::string firstLine = "brevanto-device: bad option: --exit-after " + value + range;
        EXPECT_EQ(result.err.substr(0, firstLine.size()), firstLine) << value;
        EXPECT_NE(result.err.find("usage: brevanto-device"), std::string::npos) << value;
    }
}

// Reads from fd until it has `size` bytes or nothing more comes within the limit.
Bytes readBytes(int fd, size_t size) {
    Bytes got;
    while (got.size() < size) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, kReplyLimitMs) <= 0) break;
        unsigned char block[256];
        const ssize_t count = read(fd, block, sizeof block);
        if (count <= 0) break;
        got.insert(got.end(), block, block + count);
    }
    return got;
}

// A System Exclusive message that never ends (no F7, ever more data bytes) is dropped once it is
// longer than any the updater sends, and the device still answers the probe that follows it: its
// first message, so the noise asked for follows that answer (the answer again, then a stray).
TEST(BrevantoDevice, RawMidiDropsASystemExclusiveThatNeverEnds) {
    int master = -1;
    int slave = -1;
    char slaveName[64];
    ASSERT_EQ(openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
    termios raw;
    ASSERT_EQ(tcgetattr(slave, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);

    ScratchDir dir;
    const std::string log = (dir.path() / "received.txt").string();
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        close(master);
        close(slave);
        alarm(kRunLimitSeconds);
        execl(BREVANTO_DEVICE_EXE, BREVANTO_DEVICE_EXE, "--raw-midi", slaveName, "--received-log",
              log.c_str(), "--exit-after", "604800", "--repeat-reply", "1", "--stray=1=0x20@20",
              nullptr);
        _exit(127);
    }
    close(out[1]);
    // Written only once the device listens, so that it reads the stream from its start.
    const std::string listening = "brevanto-device: listening on " + std::string(slaveName) + "\n";
    const Bytes firstLine = readBytes(out[0], listening.size());
    EXPECT_EQ(std::string(firstLine.begin(), firstLine.end()), listening);

    Bytes stream(1, 0xF0);
    stream.insert(stream.end(), 100000, 0x55);
    const Bytes probeB = {0xF0, 0x6B, 0x31, 0x5D, 0x48, 0x0F, 0x72, 0x29, 0xF7};
    stream.insert(stream.end(), probeB.begin(), probeB.end());
    // Without blocking: a device that stopped reading must fail the test, not hang it.
    ASSERT_EQ(fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK), 0);
    size_t written = 0;
    while (written < stream.size()) {
        pollfd ready{master, POLLOUT, 0};
        if (poll(&ready, 1, kReplyLimitMs) <= 0) break;
        const ssize_t count = write(master, stream.data() + written, stream.size() - written);
        if (count < 0 && errno != EAGAIN) break;
        if (count > 0) written += static_cast<size_t>(count);
    }
    EXPECT_EQ(written, stream.size());
    EXPECT_EQ(readBytes(master, 9), (Bytes{0xF0, 0x33, 0xF7, 0xF0, 0x33, 0xF7, 0xF0, 0x20, 0xF7}));

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    close(master);
    close(slave);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ifstream received(log);
    const std::string logged((std::istreambuf_iterator<char>(received)),
                             std::istreambuf_iterator<char>());
    // Only the probe: the endless message is neither logged nor answered. Shown shortened when not.
    EXPECT_TRUE(logged == "F0 6B 31 5D 48 0F 72 29 F7\n")
        << "received log of " << logged.size() << " bytes: " << logged.substr(0, 60) << "...";
}

}  // namespace
