// brevanto-device: the emulated Brevanto device on real MIDI ports. It makes a sequencer client
// with one port each way, named so that the updater picks them, and answers every System
// Exclusive message as the emulated device does, until it is stopped (SIGINT or SIGTERM) or its
// time is up. For checking a Linux setup without hardware, and for the end-to-end test. With
// --raw-midi it makes no ports and plays on a raw MIDI device file instead, such as the device
// side of a USB MIDI gadget, so that the updater finds the USB port first.
#include <RtMidi.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emu/emulated_brevanto.h"
#include "emu/wire_log.h"
#include "emu/sim_options.h"
#include "emu/timed_outbox.h"
#include "platform/alsa/sequencer_diagnosis.h"
#include "platform/program_name.h"

namespace {

const char* const kUsage =
    "usage: brevanto-device [options]\n"
    "Plays a Brevanto device on MIDI ports of its own until stopped.\n"
    "  --port NAME           name of its ports (default \"Brevanto MIDI\") and, other than the\n"
    "                        default, of its sequencer client, as another instrument has\n"
    "  --identity CODE       reply to a probe (default 0x33; 0x15: still resetting)\n"
    "  --probes A|B|AB|none  probes it answers (default AB; none: a silent device)\n"
    "  --reply N=CODE[/K]    record N answered CODE (or none) on its first K attempts\n"
    "  --silent-from N       from record N on it answers nothing\n"
    "  --delay-ms MS         answers MS milliseconds late\n"
    "  --stray N=CODE[@MS]   MS ms (default 0) after its Nth message (probes and chunks\n"
    "                        counted from 1) it also sends F0 CODE F7, which answers nothing;\n"
    "                        CODE empty: F0 F7 (repeatable)\n"
    "  --repeat-reply N[@MS] its answer to its Nth message goes out again, MS ms (default 0)\n"
    "                        after the first (repeatable)\n"
    "  --received-log FILE   on exit, every message received, as hex, one per line\n"
    "  --flashed FILE        on exit, the acknowledged records as they would be flashed\n"
    "  --exit-after S        stops by itself after S seconds (1 to 604800, default 600)\n"
    "  --raw-midi FILE       plays on this raw MIDI device (/dev/snd/midiC7D0) instead\n";

constexpr const char* kClientName = "Brevanto";
constexpr const char* kDefaultPort = "Brevanto MIDI";
constexpr long kDefaultExitAfterSeconds = 600;
// A week: far beyond any test, and far below where the deadline's clock arithmetic overflows.
constexpr long kMaxExitAfterSeconds = 604800;
constexpr auto kStopPollStep = std::chrono::milliseconds(10);
// The updater's longest message is a record's hex chunk of a few dozen bytes. A System Exclusive
// message past this is no updater's: it is dropped, and reading resumes at the next F0, so that a
// stream that never sends F7 cannot grow the message without end.
constexpr size_t kMaxSysExBytes = 4096;

std::atomic<bool> gStop{false};
std::atomic<bool> gPortFailed{false};

void onStopSignal(int) {
    gStop.store(true);
}

struct Options {
    std::string port = kDefaultPort;
    emu::SimOptions sim;  // only the device's script, answer delay and noise are used
    std::string receivedLog;
    std::string flashed;
    std::string rawMidi;
    long exitAfterSeconds = kDefaultExitAfterSeconds;
};

// The simulator's options that script the device.
bool isDeviceOption(const std::string& name) {
    return name == "--identity" || name == "--probes" || name == "--reply" ||
           name == "--silent-from" || name == "--delay-ms" || name == "--stray" ||
           name == "--repeat-reply";
}

bool isOption(const std::string& name) {
    return isDeviceOption(name) || name == "--port" || name == "--received-log" ||
           name == "--flashed" || name == "--exit-after" || name == "--raw-midi";
}

// Decimal digits only, within 1 to kMaxExitAfterSeconds; strtol would also take signs, spaces and
// values that overflow.
bool parseExitAfter(const std::string& text, long& seconds) {
    if (text.empty()) return false;
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > kMaxExitAfterSeconds) return false;
    }
    if (value < 1) return false;
    seconds = value;
    return true;
}

// Options come as "--name value" or "--name=value"; --help asks for the usage.
bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
    std::vector<std::string> deviceArgs;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name;
        std::string value;
        if (!emu::takeOption(args, i, name, value, error)) {
            if (!isOption(name)) error = "unknown option: " + name;
            return false;
        }
        if (name == "--port") {
            options.port = value;
        } else if (name == "--received-log") {
            options.receivedLog = value;
        } else if (name == "--flashed") {
            options.flashed = value;
        } else if (name == "--raw-midi") {
            options.rawMidi = value;
        } else if (name == "--exit-after") {
            if (!parseExitAfter(value, options.exitAfterSeconds)) {
                error = "bad option: " + name + " " + value + " (seconds, 1 to " +
                        std::to_string(kMaxExitAfterSeconds) + ")";
                return false;
            }
        } else if (isDeviceOption(name)) {
            deviceArgs.push_back(name);
            deviceArgs.push_back(value);
        } else {
            error = "unknown option: " + name;
            return false;
        }
    }
    if (options.port.empty()) {
        error = "the port needs a name";
        return false;
    }
    return emu::parseSimOptions(deviceArgs, options.sim, error);
}

// The device and what it heard; touched on the input thread, read once the ports are shut. Its
// answers go out on the input thread after its delay; the link's noise goes out on the outbox's
// thread, each message whole.
struct Station {
    using Send = std::function<void(const emu::Bytes&)>;
    Station(const Options& options, Send sendWhole)
        : device(options.sim.script),
          link(options.sim.noise),
          delayMs(options.sim.delayMs),
          send(std::move(sendWhole)),
          outbox([this](const emu::Bytes& bytes) { sendLocked(bytes); }) {}

    void sendLocked(const emu::Bytes& bytes) {
        std::lock_guard<std::mutex> lock(sendMutex);
        if (!stopped) send(bytes);
    }

    // Nothing more goes out: the port is about to close.
    void stop() {
        std::lock_guard<std::mutex> lock(sendMutex);
        stopped = true;
    }

    // Takes one message: logs it, answers it and lets the noise it sets off go out.
    void take(const emu::Bytes& message, bool whole) {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back({0, message});
        if (!whole) return;
        const auto reply = device.receive(message);
        for (auto& extra : link.afterMessage(reply, delayMs)) {
            outbox.post(std::move(extra.bytes), std::chrono::milliseconds(extra.delayMs));
        }
        if (!reply) return;
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        sendLocked(*reply);
    }

    emu::BrevantoDevice device;
    emu::NoisyLink link;
    int delayMs;
    Send send;
    std::mutex sendMutex;  // one message at a time on the port
    bool stopped = false;
    std::mutex mutex;
    std::vector<emu::SentMessage> received;
    emu::TimedOutbox outbox;  // last: its thread stops before the rest goes
};

void onMessage(double, std::vector<unsigned char>* message, void* context) {
    static_cast<Station*>(context)->take(*message, true);
}

void reportError(RtMidiError::Type type, const std::string& text, void*) {
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) return;
    printError("%s", text.c_str());
    gPortFailed.store(true);
}

// Writes the logs and the closing line once the device has stopped.
int finish(const Options& options, Station& station) {
    std::lock_guard<std::mutex> lock(station.mutex);
    bool written = true;
    if (!options.receivedLog.empty())
        written =
            emu::writeFile(options.receivedLog, emu::wireLogText(station.received)) && written;
    if (!options.flashed.empty()) {
        const auto& image = station.device.flashed();
        written =
            emu::writeFile(options.flashed, std::string(image.begin(), image.end())) && written;
    }
    std::printf("brevanto-device: %zu messages received, %zu bytes flashed\n",
                station.received.size(), station.device.flashed().size());
    if (!written) printError("cannot write the logs");
    return written ? 0 : 1;
}

// The device on a raw MIDI byte stream. A System Exclusive message cut short (a status byte or a
// new F0 before its F7) is logged as it came and not answered, as a device drops it; one longer
// than kMaxSysExBytes is dropped unlogged; short messages and real-time bytes are ignored.
int runRaw(const Options& options) {
    const int fd = open(options.rawMidi.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        printError("%s: %s", options.rawMidi.c_str(), std::strerror(errno));
        return 1;
    }
    Station station(options, [fd](const emu::Bytes& bytes) {
        if (write(fd, bytes.data(), bytes.size()) < 0)
            printError("write: %s", std::strerror(errno));
    });
    std::printf("brevanto-device: listening on %s\n", options.rawMidi.c_str());
    std::fflush(stdout);
    emu::Bytes message;
    bool inSysEx = false;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.exitAfterSeconds);
    while (!gStop.load() && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(kStopPollStep.count()));
        if (polled < 0 && errno != EINTR) break;
        if (polled <= 0) continue;
        // A gadget taken off its controller reports an error or a hang-up: the cable is out.
        if ((ready.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;
        unsigned char bytes[512];
        const ssize_t count = read(fd, bytes, sizeof bytes);
        if (count < 0 && errno != EAGAIN && errno != EINTR) break;
        // The end of a file, or of a device that reads as one, is ready at once and for ever:
        // wait as a silent port is waited on, rather than spin. So is a stream of bytes that are
        // no part of a System Exclusive message (/dev/zero): the device has no use for them, and
        // a MIDI link's next message waits in the kernel meanwhile.
        bool sysExSeen = false;
        for (ssize_t i = 0; i < count; ++i) {
            const unsigned char byte = bytes[i];
            sysExSeen = sysExSeen || inSysEx || byte == 0xF0;
            if (byte >= 0xF8) continue;
            if (inSysEx && byte < 0x80) {
                if (message.size() < kMaxSysExBytes) {
                    message.push_back(byte);
                } else {
                    inSysEx = false;
                    message.clear();
                }
                continue;
            }
            if (inSysEx) {
                if (byte == 0xF7) message.push_back(byte);
                station.take(message, byte == 0xF7);
                inSysEx = false;
                message.clear();
            }
            if (byte == 0xF0) {
                inSysEx = true;
                message.assign(1, byte);
            }
        }
        if (!sysExSeen) std::this_thread::sleep_for(kStopPollStep);
    }
    if (inSysEx) station.received.push_back({0, message});
    station.stop();
    close(fd);
    return finish(options, station);
}

int run(const Options& options) {
    // A device standing in for another instrument (a keyboard listed first) is a client of that
    // name, so that a port is told apart by its client's name as on a real setup.
    const std::string client = options.port == kDefaultPort ? kClientName : options.port;
    RtMidiOut out(RtMidi::LINUX_ALSA, client);
    RtMidiIn in(RtMidi::LINUX_ALSA, client);
    out.setErrorCallback(reportError);
    in.setErrorCallback(reportError);
    Station station(options, [&out](const emu::Bytes& bytes) {
        std::vector<unsigned char> message(bytes.begin(), bytes.end());
        out.sendMessage(&message);
    });
    // The updater sends SysEx only, and the device answers SysEx only.
    in.ignoreTypes(false, true, true);
    in.setCallback(onMessage, &station);
    out.openVirtualPort(options.port);
    in.openVirtualPort(options.port);
    // With an error callback set, RtMidi reports a failed port there instead of throwing.
    if (gPortFailed.load()) {
        printError("cannot make the ports");
        return 1;
    }
    std::printf("brevanto-device: listening on \"%s\"\n", options.port.c_str());
    std::fflush(stdout);

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.exitAfterSeconds);
    while (!gStop.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kStopPollStep);
    station.stop();
    in.closePort();
    out.closePort();
    return finish(options, station);
}

bool asksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    setProgramName("brevanto-device");
    if (asksForHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        printError("%s", error.c_str());
        std::fputs(kUsage, stderr);
        return 2;
    }
    // A log that cannot be written is said before the device starts, not after its whole run.
    for (const std::string* path : {&options.receivedLog, &options.flashed}) {
        if (!path->empty() && !emu::writeFile(*path, "")) {
            printError("cannot write %s", path->c_str());
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A raw MIDI device needs no sequencer.
    if (!options.rawMidi.empty()) return runRaw(options);
    // Without a usable sequencer, say why before RtMidi and ALSA print their own reports.
    if (alsa::probeSequencer() != 0) {
        alsa::reportNoDevice();
        return 1;
    }
    try {
        return run(options);
    } catch (const RtMidiError&) {
        // No sequencer client could be made: say which of the usual reasons it is.
        alsa::reportNoDevice();
        return 1;
    }
}
