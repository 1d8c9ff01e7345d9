// What the winmm face needs from a system of MIDI ports: their lists, opening one, sending on an
// output and receiving on an input. Everything winmm's devices do on top (headers, buffers,
// callbacks, reset and close) is the face's. Each executable links one port system, which defines
// portSystem(): ALSA for the product on Linux, the emulated one for the tests and the simulator,
// or the one with no ports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/midi_api.h"

namespace winmm_face {

// A port as listed: the port system's own number for it, and the name the caps show.
struct PortInfo {
    unsigned number;
    std::string name;
};

// Receives each complete message of an open input port, on the port's own thread. damaged: the
// message arrived broken, which winmm reports as an error notice.
using MessageSink = std::function<void(const uint8_t* bytes, size_t count, bool damaged)>;

// An open input port: destroying it closes the port and waits until no message is being handed
// to the sink any more.
class InputPortLink {
  public:
    virtual ~InputPortLink() = default;
    // Input from the port begins; a port that cannot start says why.
    virtual MMRESULT start() { return MMSYSERR_NOERROR; }
};

// Called once a message has played out, on any thread, at most once.
using SendDone = std::function<void()>;

// An open output port; destroying it closes the port.
class OutputPortLink {
  public:
    virtual ~OutputPortLink() = default;
    // Takes one message whole, or refuses it with winmm's reason. A port that writes the message
    // out before returning calls done before returning (also a browser, which never says when a
    // message has left); one that drains it later (raw MIDI) calls done then. A refused message
    // never calls done.
    virtual MMRESULT send(const uint8_t* bytes, size_t count, SendDone done) = 0;
    // Drops every message still playing; their done is never called.
    virtual void cutOff() {}
};

class PortSystem {
  public:
    virtual ~PortSystem() = default;
    // The ports that are devices, in device order.
    virtual std::vector<PortInfo> inputPorts() = 0;
    virtual std::vector<PortInfo> outputPorts() = 0;
    // Opens the listed port into link, or says why not (MMSYSERR_ALLOCATED when it cannot be
    // opened, also when it is no longer the listed one).
    virtual MMRESULT openInput(const PortInfo& port, MessageSink sink,
                               std::unique_ptr<InputPortLink>& link) = 0;
    virtual MMRESULT openOutput(const PortInfo& port, std::unique_ptr<OutputPortLink>& link) = 0;
    // Called when the first device cannot be opened because there is none.
    virtual void reportNoDevice() {}
    // A few words on how a listed port is reached, for a user choosing among them; empty when
    // there is nothing to tell.
    virtual std::string portNote(const PortInfo& /*port*/, bool /*output*/) { return {}; }
};

// The port system the face uses, defined by the one linked in.
PortSystem& portSystem();

}  // namespace winmm_face
