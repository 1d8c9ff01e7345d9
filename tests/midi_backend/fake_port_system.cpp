#include "fake_port_system.h"

namespace {

struct FakeInputLink : midi_backend::InputPortLink {
    FakePortSystem* system;
    size_t index;
    ~FakeInputLink() override {
        std::lock_guard<std::mutex> lock(system->mutex);
        system->openedInputs[index].open = false;
    }
};

struct FakeOutputLink : midi_backend::OutputPortLink {
    FakePortSystem* system;
    bool send(const uint8_t* bytes, size_t count) override {
        std::lock_guard<std::mutex> lock(system->mutex);
        if (system->refuseSends) return false;
        system->sent.emplace_back(bytes, bytes + count);
        return true;
    }
};

}  // namespace

std::unique_ptr<midi_backend::InputPortLink> FakePortSystem::openInput(
    unsigned portNumber, const std::string& name, midi_backend::MessageSink sink) {
    if (portNumber >= inputs.size() || inputs[portNumber] != name) return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    auto link = std::make_unique<FakeInputLink>();
    link->system = this;
    link->index = openedInputs.size();
    openedInputs.push_back({portNumber, std::move(sink)});
    return link;
}

std::unique_ptr<midi_backend::OutputPortLink> FakePortSystem::openOutput(unsigned portNumber,
                                                                         const std::string& name) {
    if (portNumber >= outputs.size() || outputs[portNumber] != name) return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    openedOutputs.push_back(portNumber);
    auto link = std::make_unique<FakeOutputLink>();
    link->system = this;
    return link;
}

void FakePortSystem::deliver(size_t n, const std::vector<uint8_t>& message) {
    midi_backend::MessageSink sink;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (n >= openedInputs.size() || !openedInputs[n].open) return;
        sink = openedInputs[n].sink;
    }
    sink(message.data(), message.size());
}

void FakePortSystem::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    inputs.clear();
    outputs.clear();
    openedInputs.clear();
    openedOutputs.clear();
    sent.clear();
    refuseSends = false;
    noDeviceReports = 0;
}

FakePortSystem& fakePorts() {
    static FakePortSystem system;
    return system;
}

midi_backend::PortSystem& midi_backend::portSystem() {
    return fakePorts();
}
