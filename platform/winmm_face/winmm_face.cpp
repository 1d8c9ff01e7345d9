// The multimedia MIDI calls, once for every port system: devices are the listed ports, an open
// device keeps the program's buffers and callback in an InputDevice or OutputDevice, and the port
// system only lists, opens, sends and receives. The calls that allocate report running out of
// memory as the platform does, never by throwing at the program.
#include "platform/winmm_face/test_hooks.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/midi_api.h"
#include "platform/winmm_face/input_device.h"
#include "platform/winmm_face/output_device.h"
#include "platform/winmm_face/port_system.h"
#include "platform/winmm_face/winmm_model.h"

using winmm_face::InputDevice;
using winmm_face::InputPortLink;
using winmm_face::MidiInCallback;
using winmm_face::OutputDevice;
using winmm_face::OutputPortLink;
using winmm_face::PortInfo;
using winmm_face::portSystem;

namespace {

constexpr WORD kManufacturerUnknown = 0xFFFF;  // no maker or product id is known for a port
constexpr WORD kProductUnknown = 0xFFFF;
constexpr MMVERSION kDriverVersion = 0x0100;
constexpr WORD kTechnologyMidiPort = 1;
constexpr WORD kAllChannels = 0xFFFF;

std::atomic<winmm_face::CallObserver*> gObserver{nullptr};

struct OpenInput {
    std::shared_ptr<InputDevice> device;
    std::unique_ptr<InputPortLink> link;
};

// The open devices by handle. Never destroyed: a port thread may still call in while the process
// exits.
struct Registry {
    std::mutex mutex;
    std::map<HMIDIIN, std::shared_ptr<OpenInput>> inputs;
    std::map<HMIDIOUT, std::shared_ptr<OutputDevice>> outputs;
};

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

std::map<HMIDIIN, std::shared_ptr<OpenInput>>& openDevices(Registry& r, HMIDIIN) {
    return r.inputs;
}

std::map<HMIDIOUT, std::shared_ptr<OutputDevice>>& openDevices(Registry& r, HMIDIOUT) {
    return r.outputs;
}

// The open device of that handle, In or Out; null when there is none.
template <typename Handle>
auto findOpen(Handle handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto& devices = openDevices(r, handle);
    const auto found = devices.find(handle);
    return found == devices.end() ? nullptr : found->second;
}

InputDevice& deviceOf(OpenInput& open) {
    return *open.device;
}
OutputDevice& deviceOf(OutputDevice& device) {
    return device;
}

// Tells the observer, if any, of a call that opens, starts, resets or closes a device; an open
// names the device.
void observe(const char* call, const UINT* device = nullptr) {
    winmm_face::CallObserver* observer = gObserver.load();
    if (observer == nullptr) return;
    observer->called(device != nullptr ? std::string(call) + " " + std::to_string(*device)
                                       : std::string(call));
}

// A call that may allocate: running out of memory is the platform's result, not an exception.
template <typename Call>
MMRESULT guarded(Call call) {
    try {
        return call();
    } catch (...) {
        return MMSYSERR_NOMEM;
    }
}

// A call on an open device, In or Out: the call observed if it is named, and an unknown handle
// refused.
template <typename Handle, typename Call>
MMRESULT onOpenDevice(Handle handle, Call call, const char* observed = nullptr) {
    return guarded([&] {
        if (observed != nullptr) observe(observed);
        const auto open = findOpen(handle);
        return open ? call(deviceOf(*open)) : MMSYSERR_INVALHANDLE;
    });
}

// Records a newly opened device under its handle and gives the program that handle.
template <typename Handle, typename Open>
void registerOpen(Handle handle, const std::shared_ptr<Open>& open, Handle* handleOut) {
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        openDevices(r, handle)[handle] = open;
    }
    *handleOut = handle;
}

// The device of that number among the ports of one direction.
bool listedDevice(const std::vector<PortInfo>& ports, UINT_PTR index, PortInfo& device) {
    if (index >= ports.size()) return false;
    device = ports[index];
    return true;
}

// The caps both directions share: the port's name, and no maker or product known.
template <typename Caps>
Caps deviceCaps(const PortInfo& port) {
    Caps caps{};
    caps.wMid = kManufacturerUnknown;
    caps.wPid = kProductUnknown;
    caps.vDriverVersion = kDriverVersion;
    winmm_model::copyProductName(port.name, caps.szPname);
    return caps;
}

// Opening device 0 fails only when there is no device at all: the run ends without one, so the
// port system says why, once, on standard error.
MMRESULT noSuchDevice(UINT index) {
    if (index == 0) portSystem().reportNoDevice();
    return MMSYSERR_BADDEVICEID;
}

}  // namespace

namespace winmm_face {

void observeCalls(CallObserver* observer) {
    gObserver.store(observer);
}

CallObserver* callObserver() {
    return gObserver.load();
}

size_t queuedInputBuffers(unsigned port) {
    std::shared_ptr<InputDevice> device;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        for (const auto& entry : r.inputs) {
            if (entry.second->device->port() == port) device = entry.second->device;
        }
    }
    return device ? device->queuedBuffers() : 0;
}

}  // namespace winmm_face

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) {
    return guarded([&] {
        if (pmic == nullptr) return MMSYSERR_INVALPARAM;
        PortInfo port;
        if (!listedDevice(portSystem().inputPorts(), uDeviceID, port)) return MMSYSERR_BADDEVICEID;
        return winmm_model::copyCaps(deviceCaps<MIDIINCAPSA>(port), pmic, cbmic);
    });
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
    return guarded([&] {
        if (pmoc == nullptr) return MMSYSERR_INVALPARAM;
        PortInfo port;
        if (!listedDevice(portSystem().outputPorts(), uDeviceID, port)) return MMSYSERR_BADDEVICEID;
        MIDIOUTCAPSA caps = deviceCaps<MIDIOUTCAPSA>(port);
        caps.wTechnology = kTechnologyMidiPort;
        caps.wChannelMask = kAllChannels;
        return winmm_model::copyCaps(caps, pmoc, cbmoc);
    });
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen) {
    return guarded([&] {
        observe("midiInOpen", &uDeviceID);
        if (phmi == nullptr) return MMSYSERR_INVALPARAM;
        const DWORD callbackType = winmm_model::callbackType(fdwOpen);
        if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_FUNCTION)
            return MMSYSERR_INVALFLAG;
        PortInfo port;
        if (!listedDevice(portSystem().inputPorts(), uDeviceID, port))
            return noSuchDevice(uDeviceID);

        auto open = std::make_shared<OpenInput>();
        const MidiInCallback callback = callbackType == CALLBACK_FUNCTION
                                            ? reinterpret_cast<MidiInCallback>(dwCallback)
                                            : nullptr;
        open->device = std::make_shared<InputDevice>(port.number, callback, dwInstance);
        // The sink holds the device, not the registry entry: messages arriving while the port
        // closes still find it alive.
        std::shared_ptr<InputDevice> device = open->device;
        const MMRESULT refused = portSystem().openInput(
            port,
            [device](const uint8_t* bytes, size_t count, bool damaged) {
                device->deliver(bytes, count, damaged);
            },
            open->link);
        if (refused != MMSYSERR_NOERROR) return refused;
        if (open->link == nullptr) return MMSYSERR_ALLOCATED;

        registerOpen(open->device->handle(), open, phmi);
        open->device->notifyOpen();
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmi, [&](InputDevice& device) { return device.prepareHeader(pmh, cbmh); });
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmi,
                        [&](InputDevice& device) { return device.unprepareHeader(pmh, cbmh); });
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmi, [&](InputDevice& device) { return device.addBuffer(pmh, cbmh); });
}

MMRESULT WINAPI midiInStart(HMIDIIN hmi) {
    return guarded([&] {
        observe("midiInStart");
        const auto open = findOpen(hmi);
        if (!open) return MMSYSERR_INVALHANDLE;
        const MMRESULT refused = open->link->start();
        if (refused != MMSYSERR_NOERROR) return refused;
        return open->device->start();
    });
}

MMRESULT WINAPI midiInReset(HMIDIIN hmi) {
    return onOpenDevice(
        hmi, [](InputDevice& device) { return device.reset(); }, "midiInReset");
}

MMRESULT WINAPI midiInClose(HMIDIIN hmi) {
    return guarded([&] {
        observe("midiInClose");
        const auto open = findOpen(hmi);
        if (!open) return MMSYSERR_INVALHANDLE;
        const MMRESULT refused = open->device->beginClose();
        if (refused != MMSYSERR_NOERROR) return refused;
        {
            Registry& r = registry();
            std::lock_guard<std::mutex> lock(r.mutex);
            r.inputs.erase(hmi);
        }
        // Closing the port waits for its thread, which may be inside the callback: no lock is
        // held.
        open->link.reset();
        open->device->notifyClose();
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR /*dwCallback*/,
                            DWORD_PTR /*dwInstance*/, DWORD fdwOpen) {
    return guarded([&] {
        observe("midiOutOpen", &uDeviceID);
        if (phmo == nullptr) return MMSYSERR_INVALPARAM;
        // The program learns that a message has played out by unpreparing its header, so output
        // notices are not given: only "no callback".
        if (winmm_model::callbackType(fdwOpen) != CALLBACK_NULL) return MMSYSERR_INVALFLAG;
        PortInfo port;
        if (!listedDevice(portSystem().outputPorts(), uDeviceID, port))
            return noSuchDevice(uDeviceID);

        std::unique_ptr<OutputPortLink> link;
        const MMRESULT refused = portSystem().openOutput(port, link);
        if (refused != MMSYSERR_NOERROR) return refused;
        if (link == nullptr) return MMSYSERR_ALLOCATED;
        auto device = std::make_shared<OutputDevice>(std::move(link));
        registerOpen(device->handle(), device, phmo);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmo, [&](OutputDevice& device) { return device.prepareHeader(pmh, cbmh); });
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmo,
                        [&](OutputDevice& device) { return device.unprepareHeader(pmh, cbmh); });
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmo, [&](OutputDevice& device) { return device.longMsg(pmh, cbmh); });
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo) {
    return onOpenDevice(
        hmo, [](OutputDevice& device) { return device.reset(); }, "midiOutReset");
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) {
    return guarded([&] {
        observe("midiOutClose");
        const auto device = findOpen(hmo);
        if (!device) return MMSYSERR_INVALHANDLE;
        const MMRESULT refused = device->close();
        if (refused != MMSYSERR_NOERROR) return refused;
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.outputs.erase(hmo);
        return MMSYSERR_NOERROR;
    });
}
