// The MIDI devices as a user chooses among them: each device's name as this platform gives it, in
// full (winmm's caps cut a name to 31 characters, and a Linux port's name with its address is
// longer), and a few words on how the device is reached. Ours on every platform: winmm's caps on
// Windows (platform/windows/winmm_device_list.cpp), the port system's lists wherever the winmm
// face stands in for winmm (platform/winmm_face/face_device_list.cpp).
#pragma once

#include <cstddef>

#include "platform/midi_api.h"

constexpr size_t kMidiDeviceNameSize = 96;
constexpr size_t kMidiDeviceNoteSize = 64;

struct MidiDeviceListing {
    char name[kMidiDeviceNameSize];  // cut to fit, always terminated
    char note[kMidiDeviceNoteSize];  // empty when the platform has nothing to add
};

// MIDI In (Out) device index as midiInOpen (midiOutOpen) numbers it; false past the last device.
bool midiInDeviceListing(UINT index, MidiDeviceListing& listing);
bool midiOutDeviceListing(UINT index, MidiDeviceListing& listing);

// Says on standard error why there is no MIDI device at all, where the platform can tell (the
// ALSA sequencer's state); nothing where it cannot. Once per process, as the first open says it.
void reportNoMidiDevice();
