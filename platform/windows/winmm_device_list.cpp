// The device list from winmm itself: its device numbers and the product names its caps hold.
#include <cstring>

#include "platform/midi_device_list.h"

namespace {

template <typename Caps>
void fillListing(const Caps& caps, MidiDeviceListing& listing) {
    const size_t length = strnlen(caps.szPname, sizeof caps.szPname);
    std::memcpy(listing.name, caps.szPname, length);
    listing.name[length] = '\0';
    listing.note[0] = '\0';
}

}  // namespace

bool midiInDeviceListing(UINT index, MidiDeviceListing& listing) {
    MIDIINCAPSA caps;
    std::memset(&caps, 0, sizeof caps);
    if (index >= midiInGetNumDevs() ||
        midiInGetDevCapsA(index, &caps, sizeof caps) != MMSYSERR_NOERROR) {
        return false;
    }
    fillListing(caps, listing);
    return true;
}

bool midiOutDeviceListing(UINT index, MidiDeviceListing& listing) {
    MIDIOUTCAPSA caps;
    std::memset(&caps, 0, sizeof caps);
    if (index >= midiOutGetNumDevs() ||
        midiOutGetDevCapsA(index, &caps, sizeof caps) != MMSYSERR_NOERROR) {
        return false;
    }
    fillListing(caps, listing);
    return true;
}

// winmm gives no reason for an empty device list.
void reportNoMidiDevice() {}
