// Web MIDI as a port system under the winmm face: the ports of the MIDIAccess the page was given
// (navigator.requestMIDIAccess with System Exclusive, or the page's emulated device), in the
// browser's order with their names. The page keeps the port objects; the program knows them by
// their place in the lists.
//
// Input: the page queues every message an open input receives, since it may not call into the
// program while it is paused; Sleep hands them on here once the pause is over. Output:
// MIDIOutput.send() reports no completion, so a message counts as played out once the browser has
// taken it.
#include <emscripten.h>

#include <cstdint>
#include <map>
#include <utility>

#include "platform/web/page_midi_input.h"
#include "platform/winmm_face/port_system.h"

namespace {

// A System Exclusive reply is a few bytes; a longer message is handed on cut to this and marked
// damaged, as winmm reports a message that does not fit.
constexpr int kLargestInput = 4096;
constexpr int kNameSize = 256;
// What pageMidiSend says: 0 taken, kPortRefused, or 2 for a message that is no valid MIDI.
constexpr int kPortRefused = 1;
constexpr int kNoInput = -1;

}  // namespace

EM_JS(int, pageMidiPortCount, (int output), { return Module.page.midi.ports(output).length; });

EM_JS(void, pageMidiPortName, (int output, int index, char* name, int size),
      { stringToUTF8(Module.page.midi.ports(output)[index].name || "", name, size); });

EM_JS(int, pageMidiOpen, (int output, int index), { return Module.page.midi.open(output, index); });

EM_JS(void, pageMidiClose, (int output, int index), { Module.page.midi.close(output, index); });

EM_JS(int, pageMidiSend, (int index, const uint8_t* bytes, int count),
      { return Module.page.midi.send(index, HEAPU8.slice(bytes, bytes + count)); });

// The oldest message that has arrived by now: its length (kNoInput when none), input port and
// bytes.
EM_JS(int, pageMidiTakeInput, (int* port, uint8_t* bytes, int size), {
    const message = Module.page.midi.takeInput();
    if (!message) return -1;
    HEAP32[port >> 2] = message.port;
    HEAPU8.set(message.data.subarray(0, size), bytes);
    return message.data.length;
});

namespace {

class WebMidiPortSystem;
WebMidiPortSystem& webMidi();

class WebMidiPortSystem : public winmm_face::PortSystem {
  public:
    std::vector<winmm_face::PortInfo> inputPorts() override { return ports(0); }
    std::vector<winmm_face::PortInfo> outputPorts() override { return ports(1); }
    MMRESULT openInput(const winmm_face::PortInfo& port, winmm_face::MessageSink sink,
                       std::unique_ptr<winmm_face::InputPortLink>& link) override;
    MMRESULT openOutput(const winmm_face::PortInfo& port,
                        std::unique_ptr<winmm_face::OutputPortLink>& link) override;

    void handOverInput() {
        int port = 0;
        uint8_t bytes[kLargestInput];
        for (;;) {
            const int count = pageMidiTakeInput(&port, bytes, kLargestInput);
            if (count == kNoInput) return;
            const auto open = sinks_.find(static_cast<unsigned>(port));
            // Input of a port the program has closed is lost, as on any system.
            if (open == sinks_.end()) continue;
            const bool damaged = count > kLargestInput;
            open->second(bytes, static_cast<size_t>(damaged ? kLargestInput : count), damaged);
        }
    }

    std::map<unsigned, winmm_face::MessageSink> sinks_;

  private:
    static std::vector<winmm_face::PortInfo> ports(int output) {
        std::vector<winmm_face::PortInfo> listed;
        const int count = pageMidiPortCount(output);
        for (int i = 0; i < count; ++i) {
            char name[kNameSize];
            pageMidiPortName(output, i, name, kNameSize);
            listed.push_back({static_cast<unsigned>(i), name});
        }
        return listed;
    }
};

class WebMidiInput : public winmm_face::InputPortLink {
  public:
    explicit WebMidiInput(unsigned port) : port_(port) {}
    ~WebMidiInput() override {
        pageMidiClose(0, static_cast<int>(port_));
        webMidi().sinks_.erase(port_);
    }

  private:
    const unsigned port_;
};

class WebMidiOutput : public winmm_face::OutputPortLink {
  public:
    explicit WebMidiOutput(unsigned port) : port_(port) {}
    ~WebMidiOutput() override { pageMidiClose(1, static_cast<int>(port_)); }

    // The browser takes the message whole or refuses it; it never says when the message has
    // left, so taken counts as played out. A port gone (or System Exclusive not allowed) fails
    // the send. A message the browser will not carry at all, as no valid MIDI (a System Exclusive
    // message with a status byte inside, as probe A is), can reach no device from a page: it is
    // lost as on a link that drops it, and the device is reached with the other probe.
    MMRESULT send(const uint8_t* bytes, size_t count, winmm_face::SendDone done) override {
        const int result = pageMidiSend(static_cast<int>(port_), bytes, static_cast<int>(count));
        if (result == kPortRefused) return MMSYSERR_NODRIVER;
        done();
        return MMSYSERR_NOERROR;
    }

  private:
    const unsigned port_;
};

MMRESULT WebMidiPortSystem::openInput(const winmm_face::PortInfo& port,
                                      winmm_face::MessageSink sink,
                                      std::unique_ptr<winmm_face::InputPortLink>& link) {
    if (pageMidiOpen(0, static_cast<int>(port.number)) != 0) return MMSYSERR_ALLOCATED;
    sinks_[port.number] = std::move(sink);
    link = std::make_unique<WebMidiInput>(port.number);
    return MMSYSERR_NOERROR;
}

MMRESULT WebMidiPortSystem::openOutput(const winmm_face::PortInfo& port,
                                       std::unique_ptr<winmm_face::OutputPortLink>& link) {
    if (pageMidiOpen(1, static_cast<int>(port.number)) != 0) return MMSYSERR_ALLOCATED;
    link = std::make_unique<WebMidiOutput>(port.number);
    return MMSYSERR_NOERROR;
}

WebMidiPortSystem& webMidi() {
    static WebMidiPortSystem system;
    return system;
}

}  // namespace

winmm_face::PortSystem& winmm_face::portSystem() {
    return webMidi();
}

void handOverPageMidiInput() {
    webMidi().handOverInput();
}
