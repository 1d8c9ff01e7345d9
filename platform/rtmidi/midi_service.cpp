// The multimedia MIDI calls over the system's sequencer ports: devices are the listed ports, an
// open device keeps the program's buffers and callback in an InputDevice or OutputDevice.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "device_list.h"
#include "input_device.h"
#include "midi_api.h"
#include "output_device.h"
#include "port_system.h"

using midi_backend::DevicePort;
using midi_backend::InputDevice;
using midi_backend::InputPortLink;
using midi_backend::MidiInCallback;
using midi_backend::OutputDevice;
using midi_backend::OutputPortLink;
using midi_backend::portSystem;

namespace {

constexpr DWORD kCallbackTypeMask = 0x00070000u;
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

std::shared_ptr<OpenInput> findInput(HMIDIIN handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto found = r.inputs.find(handle);
    return found == r.inputs.end() ? nullptr : found->second;
}

std::shared_ptr<OpenOutput> findOutput(HMIDIOUT handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto found = r.outputs.find(handle);
    return found == r.outputs.end() ? nullptr : found->second;
}

bool inputDevice(UINT_PTR index, DevicePort& device) {
    const auto devices = midi_backend::devicePorts(portSystem().inputPortNames());
    if (index >= devices.size()) return false;
    device = devices[index];
    return true;
}

bool outputDevice(UINT_PTR index, DevicePort& device) {
    const auto devices = midi_backend::devicePorts(portSystem().outputPortNames());
    if (index >= devices.size()) return false;
    device = devices[index];
    return true;
}

// The caps structure may be given shorter than ours: only as much as fits is written.
template <typename Caps>
void copyCaps(const Caps& caps, void* out, UINT outSize) {
    std::memcpy(out, &caps, outSize < sizeof caps ? outSize : sizeof caps);
}

}  // namespace

// The calls that list or open devices allocate; running out of memory there is reported as the
// platform does, never thrown at the program.
MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) try {
    if (pmic == nullptr) return MMSYSERR_INVALPARAM;
    DevicePort port;
    if (!inputDevice(uDeviceID, port)) return MMSYSERR_BADDEVICEID;
    MIDIINCAPSA caps{};
    caps.wMid = kManufacturerUnknown;
    caps.wPid = kProductUnknown;
    caps.vDriverVersion = kDriverVersion;
    midi_backend::copyProductName(port.name, caps.szPname);
    copyCaps(caps, pmic, cbmic);
    return MMSYSERR_NOERROR;
} catch (...) {
    return MMSYSERR_NOMEM;
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) try {
    if (pmoc == nullptr) return MMSYSERR_INVALPARAM;
    DevicePort port;
    if (!outputDevice(uDeviceID, port)) return MMSYSERR_BADDEVICEID;
    MIDIOUTCAPSA caps{};
    caps.wMid = kManufacturerUnknown;
    caps.wPid = kProductUnknown;
    caps.vDriverVersion = kDriverVersion;
    midi_backend::copyProductName(port.name, caps.szPname);
    caps.wTechnology = kTechnologyMidiPort;
    caps.wChannelMask = kAllChannels;
    copyCaps(caps, pmoc, cbmoc);
    return MMSYSERR_NOERROR;
} catch (...) {
    return MMSYSERR_NOMEM;
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen) try {
    if (phmi == nullptr) return MMSYSERR_INVALPARAM;
    const DWORD callbackType = fdwOpen & kCallbackTypeMask;
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_FUNCTION)
        return MMSYSERR_INVALFLAG;
    DevicePort port;
    if (!inputDevice(uDeviceID, port)) return MMSYSERR_BADDEVICEID;

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

    const HMIDIIN handle = open->device->handle();
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.inputs[handle] = open;
    }
    *phmi = handle;
    open->device->notifyOpen();
    return MMSYSERR_NOERROR;
} catch (...) {
    return MMSYSERR_NOMEM;
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    const auto open = findInput(hmi);
    return open ? open->device->prepareHeader(pmh, cbmh) : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    const auto open = findInput(hmi);
    return open ? open->device->unprepareHeader(pmh, cbmh) : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    const auto open = findInput(hmi);
    return open ? open->device->addBuffer(pmh, cbmh) : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiInStart(HMIDIIN hmi) {
    const auto open = findInput(hmi);
    return open ? open->device->start() : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiInReset(HMIDIIN hmi) {
    const auto open = findInput(hmi);
    return open ? open->device->reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiInClose(HMIDIIN hmi) {
    const auto open = findInput(hmi);
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
    if ((fdwOpen & kCallbackTypeMask) != CALLBACK_NULL) return MMSYSERR_INVALFLAG;
    DevicePort port;
    if (!outputDevice(uDeviceID, port)) return MMSYSERR_BADDEVICEID;

    auto open = std::make_shared<OpenOutput>();
    open->link = portSystem().openOutput(port.portNumber, port.name);
    if (open->link == nullptr) return MMSYSERR_ALLOCATED;
    OutputPortLink* link = open->link.get();
    open->device = std::make_unique<OutputDevice>(
        [link](const uint8_t* bytes, size_t count) { return link->send(bytes, count); });

    const HMIDIOUT handle = open->device->handle();
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.outputs[handle] = open;
    }
    *phmo = handle;
    return MMSYSERR_NOERROR;
} catch (...) {
    return MMSYSERR_NOMEM;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    const auto open = findOutput(hmo);
    return open ? open->device->prepareHeader(pmh, cbmh) : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    const auto open = findOutput(hmo);
    return open ? open->device->unprepareHeader(pmh, cbmh) : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    const auto open = findOutput(hmo);
    return open ? open->device->longMsg(pmh, cbmh) : MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT hmo) {
    // Nothing is ever left queued to take back.
    return findOutput(hmo) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
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
