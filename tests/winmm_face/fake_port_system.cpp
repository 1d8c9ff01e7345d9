#include "tests/winmm_face/fake_port_system.h"

namespace {

struct FakeInputLink : winmm_face::InputPortLink {
    FakePortSystem* system;
    size_t index;
    ~FakeInputLink() override {
        std::lock_guard<std::mutex> lock(system->mutex);
        system->openedInputs[index].open = false;
    }
};

struct FakeOutputLink : winmm_face::OutputPortLink {
    FakePortSystem* system;
    MMRESULT send(const uint8_t* bytes, size_t count, winmm_face::SendDone done) override {
        {
            std::lock_guard<std::mutex> lock(system->mutex);
            if (system->refuseSends) return MIDIERR_NOTREADY;
            system->sent.emplace_back(bytes, bytes + count);
            if (system->holdSends) {
                system->held.push_back(std::move(done));
                return MMSYSERR_NOERROR;
            }
        }
        done();
        return MMSYSERR_NOERROR;
    }
    void cutOff() override {
        std::lock_guard<std::mutex> lock(system->mutex);
        system->held.clear();
        ++system->cutOffs;
    }
};

}  // namespace

std::vector<winmm_face::PortInfo> FakePortSystem::listed(const std::vector<std::string>& names) {
    std::vector<winmm_face::PortInfo> ports;
    for (unsigned i = 0; i < names.size(); ++i) {
        if (names[i].rfind("Midi Through:", 0) != 0) ports.push_back({i, names[i]});
    }
    return ports;
}

MMRESULT FakePortSystem::openInput(const winmm_face::PortInfo& port, winmm_face::MessageSink sink,
                                   std::unique_ptr<winmm_face::InputPortLink>& link) {
    if (port.number >= inputs.size() || inputs[port.number] != port.name) {
        return MMSYSERR_ALLOCATED;
    }
    std::lock_guard<std::mutex> lock(mutex);
    auto opened = std::make_unique<FakeInputLink>();
    opened->system = this;
    opened->index = openedInputs.size();
    openedInputs.push_back({port.number, std::move(sink)});
    link = std::move(opened);
    return MMSYSERR_NOERROR;
}

MMRESULT FakePortSystem::openOutput(const winmm_face::PortInfo& port,
                                    std::unique_ptr<winmm_face::OutputPortLink>& link) {
    if (port.number >= outputs.size() || outputs[port.number] != port.name) {
        return MMSYSERR_ALLOCATED;
    }
    std::lock_guard<std::mutex> lock(mutex);
    openedOutputs.push_back(port.number);
    auto opened = std::make_unique<FakeOutputLink>();
    opened->system = this;
    link = std::move(opened);
    return MMSYSERR_NOERROR;
}

void FakePortSystem::deliver(size_t n, const std::vector<uint8_t>& message, bool damaged) {
    winmm_face::MessageSink sink;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (n >= openedInputs.size() || !openedInputs[n].open) return;
        sink = openedInputs[n].sink;
    }
    sink(message.data(), message.size(), damaged);
}

void FakePortSystem::finishSends() {
    std::vector<winmm_face::SendDone> finishing;
    {
        std::lock_guard<std::mutex> lock(mutex);
        finishing.swap(held);
    }
    for (const auto& done : finishing) done();
}

void FakePortSystem::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    inputs.clear();
    outputs.clear();
    openedInputs.clear();
    openedOutputs.clear();
    sent.clear();
    refuseSends = false;
    holdSends = false;
    held.clear();
    cutOffs = 0;
    noDeviceReports = 0;
}

FakePortSystem& fakePorts() {
    static FakePortSystem system;
    return system;
}

winmm_face::PortSystem& winmm_face::portSystem() {
    return fakePorts();
}
