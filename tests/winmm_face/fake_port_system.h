#pragma once

// Ports played by the test instead of a port system: lists set by the test, inputs fed by hand
// (from any thread, as the port's own thread would), outputs recording what is sent and playing
// each message out at once or, with holdSends, when the test says so.
#include <mutex>
#include <string>
#include <vector>

#include "platform/winmm_face/port_system.h"

struct FakePortSystem : winmm_face::PortSystem {
    struct OpenedInput {
        unsigned portNumber;
        winmm_face::MessageSink sink;
        bool open = true;
    };

    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    std::vector<OpenedInput> openedInputs;
    std::vector<unsigned> openedOutputs;
    std::vector<std::vector<uint8_t>> sent;  // every message sent on any output, in order
    bool refuseSends = false;
    bool holdSends = false;                  // sends play out only when finishSends() says so
    std::vector<winmm_face::SendDone> held;  // sends still playing, in order
    int cutOffs = 0;
    int noDeviceReports = 0;
    std::mutex mutex;

    std::vector<winmm_face::PortInfo> inputPorts() override { return listed(inputs); }
    std::vector<winmm_face::PortInfo> outputPorts() override { return listed(outputs); }
    MMRESULT openInput(const winmm_face::PortInfo& port, winmm_face::MessageSink sink,
                       std::unique_ptr<winmm_face::InputPortLink>& link) override;
    MMRESULT openOutput(const winmm_face::PortInfo& port,
                        std::unique_ptr<winmm_face::OutputPortLink>& link) override;
    void reportNoDevice() override { ++noDeviceReports; }

    // Hands a message to the input opened n-th, as its port thread would.
    void deliver(size_t n, const std::vector<uint8_t>& message, bool damaged = false);
    // The held sends play out, in order.
    void finishSends();

    void clear();

  private:
    // The kernel's loopback port is no device, as on the sequencer.
    static std::vector<winmm_face::PortInfo> listed(const std::vector<std::string>& names);
};

FakePortSystem& fakePorts();
