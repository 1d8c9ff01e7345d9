// What the MIDI service needs from the system's MIDI ports: their lists and opening one. The
// RtMidi one is linked into the product; tests link one that plays ports from a script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace midi_backend {

// Receives each complete message of an open input port, on the port's own thread.
using MessageSink = std::function<void(const uint8_t* bytes, size_t count)>;

// An open input port: destroying it closes the port and waits until no message is being handed
// to the sink any more.
class InputPortLink {
  public:
    virtual ~InputPortLink() = default;
};

// An open output port: each send goes out whole before it returns; destroying it closes the port.
class OutputPortLink {
  public:
    virtual ~OutputPortLink() = default;
    virtual bool send(const uint8_t* bytes, size_t count) = 0;
};

class PortSystem {
  public:
    virtual ~PortSystem() = default;
    // Port names as listed, "client:port client-number:port-number"; empty without a sequencer.
    virtual std::vector<std::string> inputPortNames() = 0;
    virtual std::vector<std::string> outputPortNames() = 0;
    // Null when the port cannot be opened, also when it is no longer the named one.
    virtual std::unique_ptr<InputPortLink> openInput(unsigned portNumber, const std::string& name,
                                                     MessageSink sink) = 0;
    virtual std::unique_ptr<OutputPortLink> openOutput(unsigned portNumber,
                                                       const std::string& name) = 0;
    // Called when the first device cannot be opened because there is none.
    virtual void reportNoDevice() {}
};

// The port system the service uses, defined by the one linked in.
PortSystem& portSystem();

}  // namespace midi_backend
