// The multimedia MIDI calls over the system's sequencer ports: devices are the listed ports, an
// open device keeps the program's buffers and callback in an InputDevice or OutputDevice.
#include <map>
#include <memory>
#include <mutex>

#include "device_list.h"
#include "input_device.h"
#include "midi_api.h"
#include "output_device.h"
#include "port_system.h"
#include "winmm_model/winmm_model.h"

using midi_backend::DevicePort;
using midi_backend::InputDevice;
using midi_backend::InputPortLink;
using midi_backend::MidiInCallback;
using midi_backend::OutputDevice;
using midi_backend::OutputPortLink;
using midi_backend::portSystem;

namespace {

constexpr WORD kManufacturerUnknown = 0xFFFF;  // no maker or product id is known for a port
constexpr WORD kProductUnknown = 0xFFFF;
constexpr MMVERSION kDriverVersion = 0x0100;
constexpr WORD kTechnologyMidiPort = 1;
constexpr WORD kAllChannels = 0xFFFF;

struct OpenInput {
    std::shared_ptr<InputDevice> device;
    std::unique_ptr<InputPortLink> link;
};

struct OpenOutput {
    std::unique_ptr<OutputDevice> device;
    std::unique_ptr<OutputPortLink> link;
};

// The open devices by handle. Never destroyed: a port thread may still call in while the process
// exits.
struct Registry {
    std::mutex mutex;
    std::map<HMIDIIN, std::shared_ptr<OpenInput>> inputs;
    std::map<HMIDIOUT, std::shared_ptr<OpenOutput>> outputs;
};

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

std::map<HMIDIIN, std::shared_ptr<OpenInput>>& openDevices(Registry& r, HMIDIIN) {
    return r.inputs;
}

std::map<HMIDIOUT, std::shared_ptr<OpenOutput>>& openDevices(Registry& r, HMIDIOUT) {
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

// A call on an open device, In or Out: an unknown handle is refused.
template <typename Handle, typename Call>
MMRESULT onOpenDevice(Handle handle, Call call) {
    const auto open = findOpen(handle);
    return open ? call(*open->device) : MMSYSERR_INVALHANDLE;
}

// Records a newly opened device under its handle and gives the program that handle.
template <typename Open, typename Handle>
void registerOpen(const std::shared_ptr<Open>& open, Handle* handleOut) {
    const Handle handle = open->device->handle();
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        openDevices(r, handle)[handle] = open;
    }
    *handleOut = handle;
}

// The device of that number among the ports of one direction.
bool listedDevice(const std::vector<std::string>& portNames, UINT_PTR index, DevicePort& device) {
    const auto devices = midi_backend::devicePorts(portNames);
    if (index >= devices.size()) return false;
    device = devices[index];
    return true;
}

bool inputDevice(UINT_PTR index, DevicePort& device) {
    return listedDevice(portSystem().inputPortNames(), index, device);
}

bool outputDevice(UINT_PTR index, DevicePort& device) {
    return listedDevice(portSystem().outputPortNames(), index, device);
}

// The caps both directions share: the port's name, and no maker or product known.
template <typename Caps>
Caps deviceCaps(const DevicePort& port) {
    Caps caps{};
    caps.wMid = kManufacturerUnknown;
    caps.wPid = kProductUnknown;
    caps.vDriverVersion = kDriverVersion;
    midi_backend::copyProductName(port.name, caps.szPname);
    return caps;
}

// Opening device 0 fails only when there is no device at all: the run ends without one, so the
// port system says why, once, on standard error.
MMRESULT noSuchDevice(UINT index) {
    if (index == 0) portSystem().reportNoDevice();
    return MMSYSERR_BADDEVICEID;
}

}  // namespace

// The calls that list or open devices allocate; running out of memory there is reported as the
// platform does, never thrown at the program.
MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) try {
    if (pmic == nullptr) return MMSYSERR_INVALPARAM;
    DevicePort port;
    if (!inputDevice(uDeviceID, port)) return MMSYSERR_BADDEVICEID;
    return winmm_model::copyCaps(deviceCaps<MIDIINCAPSA>(port), pmic, cbmic);
} catch (...) {
    return MMSYSERR_NOMEM;
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) try {
    if (pmoc == nullptr) return MMSYSERR_INVALPARAM;
    DevicePort port;
    if (!outputDevice(uDeviceID, port)) return MMSYSERR_BADDEVICEID;
    MIDIOUTCAPSA caps = deviceCaps<MIDIOUTCAPSA>(port);
    caps.wTechnology = kTechnologyMidiPort;
    caps.wChannelMask = kAllChannels;
    return winmm_model::copyCaps(caps, pmoc, cbmoc);
} catch (...) {
    return MMSYSERR_NOMEM;
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen) try {
    if (phmi == nullptr) return MMSYSERR_INVALPARAM;
    const DWORD callbackType = winmm_model::callbackType(fdwOpen);
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_FUNCTION)
        return MMSYSERR_INVALFLAG;
    DevicePort port;
    if (!inputDevice(uDeviceID, port)) return noSuchDevice(uDeviceID);

    auto open = std::make_shared<OpenInput>();
    const MidiInCallback callback =
        callbackType == CALLBACK_FUNCTION ? reinterpret_cast<MidiInCallback>(dwCallback) : nullptr;
    open->device = std::make_shared<InputDevice>(callback, dwInstance);
    // The sink holds the device, not the registry entry: messages arriving while the port closes
    // still find it alive.
    std::shared_ptr<InputDevice> device = open->device;
    open->link = portSystem().openInput(
        port.portNumber, port.name,
        [device](const uint8_t* bytes, size_t count) { device->deliver(bytes, count); });
    if (open->link == nullptr) return MMSYSERR_ALLOCATED;

    registerOpen(open, phmi);
    open->device->notifyOpen();
    return MMSYSERR_NOERROR;
} catch (...) {
    return MMSYSERR_NOMEM;
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmi, [&](auto& device) { return device.prepareHeader(pmh, cbmh); });
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmi, [&](auto& device) { return device.unprepareHeader(pmh, cbmh); });
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmi, [&](auto& device) { return device.addBuffer(pmh, cbmh); });
}

MMRESULT WINAPI midiInStart(HMIDIIN hmi) {
    return onOpenDevice(hmi, [&](auto& device) { return device.start(); });
}

MMRESULT WINAPI midiInReset(HMIDIIN hmi) {
    return onOpenDevice(hmi, [&](auto& device) { return device.reset(); });
}

MMRESULT WINAPI midiInClose(HMIDIIN hmi) {
    const auto open = findOpen(hmi);
    if (!open) return MMSYSERR_INVALHANDLE;
    const MMRESULT refused = open->device->beginClose();
    if (refused != MMSYSERR_NOERROR) return refused;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.inputs.erase(hmi);
    }
    // Closing the port waits for its thread, which may be inside the callback: no lock is held.
    open->link.reset();
    open->device->notifyClose();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR /*dwCallback*/,
                            DWORD_PTR /*dwInstance*/, DWORD fdwOpen) try {
    if (phmo == nullptr) return MMSYSERR_INVALPARAM;
    // Sends complete before they return, so there is nothing to notify: only "no callback".
    if (winmm_model::callbackType(fdwOpen) != CALLBACK_NULL) return MMSYSERR_INVALFLAG;
    DevicePort port;
    if (!outputDevice(uDeviceID, port)) return noSuchDevice(uDeviceID);

    auto open = std::make_shared<OpenOutput>();
    open->link = portSystem().openOutput(port.portNumber, port.name);
    if (open->link == nullptr) return MMSYSERR_ALLOCATED;
    OutputPortLink* link = open->link.get();
    open->device = std::make_unique<OutputDevice>(
        [link](const uint8_t* bytes, size_t count) { return link->send(bytes, count); });

    registerOpen(open, phmo);
    return MMSYSERR_NOERROR;
} catch (...) {
    return MMSYSERR_NOMEM;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmo, [&](auto& device) { return device.prepareHeader(pmh, cbmh); });
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmo, [&](auto& device) { return device.unprepareHeader(pmh, cbmh); });
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    return onOpenDevice(hmo, [&](auto& device) { return device.longMsg(pmh, cbmh); });
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo) {
    // Nothing is ever left queued to take back.
    return findOpen(hmo) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT hmo) {
    std::shared_ptr<OpenOutput> open;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        const auto found = r.outputs.find(hmo);
        if (found == r.outputs.end()) return MMSYSERR_INVALHANDLE;
        open = found->second;
        r.outputs.erase(found);
    }
    return MMSYSERR_NOERROR;
}
