#pragma once

// Ports played by the test instead of the sequencer: lists set by the test, inputs fed by hand
// (from any thread, as the port's own thread would), outputs recording what is sent.
#include <mutex>
#include <string>
#include <vector>

#include "port_system.h"

struct FakePortSystem : midi_backend::PortSystem {
    struct OpenedInput {
        unsigned portNumber;
        midi_backend::MessageSink sink;
        bool open = true;
    };

    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    std::vector<OpenedInput> openedInputs;
    std::vector<unsigned> openedOutputs;
    std::vector<std::vector<uint8_t>> sent;  // every message sent on any output, in order
    bool refuseSends = false;
    int noDeviceReports = 0;
    std::mutex mutex;

    std::vector<std::string> inputPortNames() override { return inputs; }
    std::vector<std::string> outputPortNames() override { return outputs; }
    std::unique_ptr<midi_backend::InputPortLink> openInput(unsigned portNumber,
                                                           const std::string& name,
                                                           midi_backend::MessageSink sink) override;
    std::unique_ptr<midi_backend::OutputPortLink> openOutput(unsigned portNumber,
                                                             const std::string& name) override;
    void reportNoDevice() override { ++noDeviceReports; }

    // Hands a message to the input opened n-th, as its port thread would.
    void deliver(size_t n, const std::vector<uint8_t>& message);

    void clear();
};

FakePortSystem& fakePorts();
