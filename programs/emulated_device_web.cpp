// The emulated Brevanto device for the web page's demo and its browser tests: the device model of
// emu/ with the simulator's options, laid out on ports as talveron-update-sim lays it out. The
// page's emulated MIDIAccess calls it; the device never calls the page. A message is taken at
// once, as Web MIDI takes it, so --busy-ms, --link-rate and --driver have nothing to slow down
// here; the logs are the page's.
#include <emscripten.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emu/device_place.h"
#include "emu/emulated_brevanto.h"
#include "emu/sim_options.h"
#include "tools/sample_kit.h"

namespace {

struct Emulation {
    emu::SimOptions options;
    std::unique_ptr<emu::BrevantoDevice> device;
    int deviceOut = -1;  // the Out port the device listens on; -1: none
    int deviceIn = -1;   // the In port it answers on; -1: it cannot answer
    long accepted = 0;   // messages the device's Out port has accepted
    std::string error;
    emu::Bytes reply;  // the answer to the last message sent, if any
    int replyDelayMs = 0;
};

Emulation gEmulation;

const std::vector<std::string>& names(int output) {
    return output != 0 ? gEmulation.options.outPorts : gEmulation.options.inPorts;
}

}  // namespace

extern "C" {

// Sets the emulation up afresh from the simulator's options, one a line; 0, or 2 for a bad option
// (emulatedError says why).
EMSCRIPTEN_KEEPALIVE int emulatedSetUp(const char* lines) {
    std::vector<std::string> args;
    std::string text(lines);
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    gEmulation = Emulation{};
    if (!emu::parseSimOptions(args, gEmulation.options, gEmulation.error)) return 2;
    const emu::DevicePlace place = emu::devicePlace(gEmulation.options);
    gEmulation.deviceOut = place.out;
    gEmulation.deviceIn = place.in;
    if (gEmulation.deviceOut >= 0) {
        gEmulation.device = std::make_unique<emu::BrevantoDevice>(gEmulation.options.script);
    }
    return 0;
}

EMSCRIPTEN_KEEPALIVE const char* emulatedError() {
    return gEmulation.error.c_str();
}

EMSCRIPTEN_KEEPALIVE int emulatedPortCount(int output) {
    return static_cast<int>(names(output).size());
}

EMSCRIPTEN_KEEPALIVE const char* emulatedPortName(int output, int index) {
    return names(output)[static_cast<size_t>(index)].c_str();
}

// An Out port takes a message: 0 when it is accepted, 1 when the port fails it (the cable pulled
// after --unplug-after messages). The device's answer, if any, is then emulatedReply*.
EMSCRIPTEN_KEEPALIVE int emulatedSend(int output, const uint8_t* bytes, int count) {
    gEmulation.reply.clear();
    if (output != gEmulation.deviceOut || !gEmulation.device) return 0;
    const long limit = gEmulation.options.unplugAfter;
    if (limit >= 0 && gEmulation.accepted >= limit) return 1;
    ++gEmulation.accepted;
    const auto reply = gEmulation.device->receive(emu::Bytes(bytes, bytes + count));
    if (reply && gEmulation.deviceIn >= 0) {
        gEmulation.reply = *reply;
        gEmulation.replyDelayMs = emu::replyDelayMs(*gEmulation.device, gEmulation.options);
    }
    return 0;
}

EMSCRIPTEN_KEEPALIVE int emulatedReplyLength() {
    return static_cast<int>(gEmulation.reply.size());
}

EMSCRIPTEN_KEEPALIVE const uint8_t* emulatedReplyBytes() {
    return gEmulation.reply.data();
}

EMSCRIPTEN_KEEPALIVE int emulatedReplyPort() {
    return gEmulation.deviceIn;
}

EMSCRIPTEN_KEEPALIVE int emulatedReplyDelayMs() {
    return gEmulation.replyDelayMs;
}

// The sample kit of imageBytes bytes in records of 256 payload bytes, as make-sample-kit writes
// it: the demo's kit. Its text stays until the next call.
EMSCRIPTEN_KEEPALIVE const char* emulatedSampleKit(int imageBytes) {
    static std::string text;
    text = sampleKitText(static_cast<unsigned>(imageBytes), kSamplePayloadBytes);
    return text.c_str();
}

// What the device stored: the records it acknowledged, in order.
EMSCRIPTEN_KEEPALIVE int emulatedFlashedLength() {
    return gEmulation.device ? static_cast<int>(gEmulation.device->flashed().size()) : 0;
}

EMSCRIPTEN_KEEPALIVE const uint8_t* emulatedFlashedBytes() {
    return gEmulation.device ? gEmulation.device->flashed().data() : nullptr;
}

}  // extern "C"
