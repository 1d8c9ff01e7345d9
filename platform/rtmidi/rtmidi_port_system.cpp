// The system's ports through RtMidi on the ALSA sequencer. RtMidi lists the ports, opens inputs
// and joins a SysEx that arrives in pieces; outputs go through alsa_output_link. Its exceptions
// and messages stay in here: without a sequencer there are simply no ports.
#include <RtMidi.h>

#include <iostream>
#include <mutex>

#include "alsa_output_link.h"
#include "device_list.h"
#include "port_system.h"
#include "sequencer_diagnosis.h"

namespace midi_backend {

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

class RtMidiInputLink : public InputPortLink {
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
            static_cast<RtMidiInputLink*>(self)->sink_(message->data(), message->size());
        } catch (...) {
            // Out of memory on RtMidi's thread: the message is lost, as on a full port.
        }
    }

    RtMidiIn& in() { return *in_; }

  private:
    std::unique_ptr<RtMidiIn> in_;
    MessageSink sink_;
};

class RtMidiPortSystem : public PortSystem {
  public:
    std::vector<std::string> inputPortNames() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!inputLister_) inputLister_ = makeClient<RtMidiIn>();
        return inputLister_ ? portNamesOf(*inputLister_) : std::vector<std::string>();
    }

    std::vector<std::string> outputPortNames() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!outputLister_) outputLister_ = makeClient<RtMidiOut>();
        return outputLister_ ? portNamesOf(*outputLister_) : std::vector<std::string>();
    }

    std::unique_ptr<InputPortLink> openInput(unsigned portNumber, const std::string& name,
                                             MessageSink sink) override {
        std::unique_ptr<RtMidiIn> in = makeClient<RtMidiIn>();
        if (!in || in->getPortName(portNumber) != name) return nullptr;
        // System Exclusive messages are what the program waits for; clock and active sensing
        // are no use to it.
        in->ignoreTypes(false, true, true);
        auto link = std::make_unique<RtMidiInputLink>(std::move(in), std::move(sink));
        link->in().setCallback(RtMidiInputLink::onMessage, link.get());
        link->in().openPort(portNumber, std::string(kOwnClientName) + " In");
        if (!link->in().isPortOpen()) return nullptr;
        return link;
    }

    std::unique_ptr<OutputPortLink> openOutput(unsigned portNumber,
                                               const std::string& name) override {
        int client = 0;
        int port = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!outputLister_ || outputLister_->getPortName(portNumber) != name) return nullptr;
        }
        if (!sequencerAddress(name, client, port)) return nullptr;
        return openAlsaOutput(client, port);
    }

    void reportNoDevice() override { midi_backend::reportNoDevice(); }

  private:
    std::mutex mutex_;
    std::unique_ptr<RtMidiIn> inputLister_;
    std::unique_ptr<RtMidiOut> outputLister_;
};

}  // namespace

PortSystem& portSystem() {
    // Never destroyed: ports may still be in use while the process exits.
    static RtMidiPortSystem* system = new RtMidiPortSystem;
    return *system;
}

}  // namespace midi_backend
