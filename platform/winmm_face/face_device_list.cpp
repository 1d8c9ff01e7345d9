// The device list where the winmm face stands in for winmm: the port system's lists, in the face's
// device order, with each port's whole name and the port system's note on it.
#include <cstring>
#include <string>
#include <vector>

#include "platform/midi_device_list.h"
#include "platform/winmm_face/port_system.h"

namespace {

void copyCut(const std::string& text, char* to, size_t size) {
    const size_t length = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(to, text.data(), length);
    to[length] = '\0';
}

bool listing(bool output, UINT index, MidiDeviceListing& listing) {
    try {
        winmm_face::PortSystem& system = winmm_face::portSystem();
        const std::vector<winmm_face::PortInfo> ports =
            output ? system.outputPorts() : system.inputPorts();
        if (index >= ports.size()) return false;
        copyCut(ports[index].name, listing.name, sizeof listing.name);
        copyCut(system.portNote(ports[index], output), listing.note, sizeof listing.note);
        return true;
    } catch (...) {
        // Out of memory while listing: as a list that ends here.
        return false;
    }
}

}  // namespace

bool midiInDeviceListing(UINT index, MidiDeviceListing& found) {
    return listing(false, index, found);
}

bool midiOutDeviceListing(UINT index, MidiDeviceListing& found) {
    return listing(true, index, found);
}

void reportNoMidiDevice() {
    winmm_face::portSystem().reportNoDevice();
}
