// The ALSA sequencer's ports as a port system under the winmm face. RtMidi lists the ports, opens
// inputs and joins a SysEx that arrives in pieces; outputs go through alsa_output_link, or through
// raw_midi_output_link for a sound card's MIDI port. Its exceptions and messages stay in here:
// without a sequencer there are simply no ports.
#include <RtMidi.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "platform/alsa/alsa_output_link.h"
#include "platform/alsa/raw_midi_output_link.h"
#include "platform/alsa/raw_midi_port.h"
#include "platform/alsa/sequencer_diagnosis.h"
#include "platform/alsa/sequencer_open.h"
#include "platform/alsa/sequencer_ports.h"
#include "platform/program_name.h"
#include "platform/winmm_face/port_system.h"

namespace alsa {

namespace {

// Nothing waits in RtMidi's own queue: every message goes to the callback.
constexpr unsigned kRtMidiQueueSize = 1;

void ignoreRtMidiError(RtMidiError::Type, const std::string&, void*) {}

std::unique_ptr<RtMidiIn> newClient(RtMidiIn*) {
    return std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kOwnClientName, kRtMidiQueueSize);
}
std::unique_ptr<RtMidiOut> newClient(RtMidiOut*) {
    return std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kOwnClientName);
}

// RtMidi reports a missing sequencer on std::cerr before it throws; it cannot be told not to,
// so its output goes nowhere while a client is made.
template <typename Client>
std::unique_ptr<Client> makeClient() {
    static std::mutex quietMutex;
    std::lock_guard<std::mutex> lock(quietMutex);
    silenceAlsaErrors();
    std::streambuf* saved = std::cerr.rdbuf(nullptr);
    std::unique_ptr<Client> client;
    try {
        client = newClient(static_cast<Client*>(nullptr));
        client->setErrorCallback(ignoreRtMidiError, nullptr);
    } catch (...) {
        client.reset();
    }
    std::cerr.rdbuf(saved);
    std::cerr.clear();
    return client;
}

template <typename Client>
std::vector<std::string> portNamesOf(Client& client) {
    std::vector<std::string> names;
    const unsigned count = client.getPortCount();
    for (unsigned i = 0; i < count; ++i) names.push_back(client.getPortName(i));
    return names;
}

using winmm_face::MessageSink;
using winmm_face::PortInfo;

class RtMidiInputLink : public winmm_face::InputPortLink {
  public:
    RtMidiInputLink(std::unique_ptr<RtMidiIn> in, MessageSink sink)
        : in_(std::move(in)), sink_(std::move(sink)) {}
    ~RtMidiInputLink() override {
        // Closing stops and joins RtMidi's thread, so the sink is no longer called after this.
        in_.reset();
    }

    static void onMessage(double, std::vector<unsigned char>* message, void* self) {
        if (message == nullptr || message->empty()) return;
        try {
            static_cast<RtMidiInputLink*>(self)->sink_(message->data(), message->size(), false);
        } catch (...) {
            // Out of memory on RtMidi's thread: the message is lost, as on a full port.
        }
    }

    RtMidiIn& in() { return *in_; }

  private:
    std::unique_ptr<RtMidiIn> in_;
    MessageSink sink_;
};

class AlsaPortSystem : public winmm_face::PortSystem {
  public:
    std::vector<PortInfo> inputPorts() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!inputLister_) inputLister_ = makeClient<RtMidiIn>();
        return inputLister_ ? devicePorts(portNamesOf(*inputLister_)) : std::vector<PortInfo>();
    }

    std::vector<PortInfo> outputPorts() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!outputLister_) outputLister_ = makeClient<RtMidiOut>();
        return outputLister_ ? devicePorts(portNamesOf(*outputLister_)) : std::vector<PortInfo>();
    }

    MMRESULT openInput(const PortInfo& port, MessageSink sink,
                       std::unique_ptr<winmm_face::InputPortLink>& link) override {
        std::unique_ptr<RtMidiIn> in = makeClient<RtMidiIn>();
        if (!in || in->getPortName(port.number) != port.name) return MMSYSERR_ALLOCATED;
        // System Exclusive messages are what the program waits for; clock and active sensing
        // are no use to it.
        in->ignoreTypes(false, true, true);
        auto opened = std::make_unique<RtMidiInputLink>(std::move(in), std::move(sink));
        opened->in().setCallback(RtMidiInputLink::onMessage, opened.get());
        opened->in().openPort(port.number, std::string(kOwnClientName) + " In");
        if (!opened->in().isPortOpen()) return MMSYSERR_ALLOCATED;
        link = std::move(opened);
        return MMSYSERR_NOERROR;
    }

    MMRESULT openOutput(const PortInfo& port,
                        std::unique_ptr<winmm_face::OutputPortLink>& link) override {
        int client = 0;
        int number = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!outputLister_ || outputLister_->getPortName(port.number) != port.name)
                return MMSYSERR_ALLOCATED;
        }
        if (!sequencerAddress(port.name, client, number)) return MMSYSERR_ALLOCATED;
        // A card's MIDI port is sent to straight, so that a send ends when the message is on the
        // cable; the sequencer's bridge would take it at once and may drop its end.
        std::string device;
        if (rawMidiDeviceOf(client, number, device)) {
            int openError = 0;
            link = openRawMidiOutput(device, openError);
            if (link) return MMSYSERR_NOERROR;
            printError("%s", sequencerFallbackNote(port.name, device, openError).c_str());
        }
        link = openAlsaOutput(client, number);
        return link ? MMSYSERR_NOERROR : MMSYSERR_ALLOCATED;
    }

    void reportNoDevice() override { alsa::reportNoDevice(); }

    // A card's port is sent to straight (see openOutput); every other port is another program's.
    std::string portNote(const PortInfo& port, bool output) override {
        int client = 0;
        int number = 0;
        std::string device;
        if (!sequencerAddress(port.name, client, number) ||
            !rawMidiDeviceOf(client, number, device)) {
            return "another program's port";
        }
        return output ? "a sound card's port, sent through raw MIDI " + device
                      : "a sound card's port, read through the sequencer";
    }

  private:
    std::mutex mutex_;
    std::unique_ptr<RtMidiIn> inputLister_;
    std::unique_ptr<RtMidiOut> outputLister_;
};

}  // namespace

}  // namespace alsa

winmm_face::PortSystem& winmm_face::portSystem() {
    // Never destroyed: ports may still be in use while the process exits.
    static alsa::AlsaPortSystem* system = new alsa::AlsaPortSystem;
    return *system;
}
