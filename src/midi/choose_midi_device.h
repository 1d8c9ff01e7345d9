#pragma once

#include "platform/midi_device_list.h"

// Which MIDI device a run takes: the first one not named "Microsoft..." when the user named none,
// or the one the user named. One rule for the console and the page alike.

enum class MidiDirection { kIn, kOut };

// Far more MIDI devices than a studio connects; a device past these cannot be chosen by name.
constexpr UINT kMaxListedDevices = 64;

// The devices of one direction as listed at one moment, in device order.
struct MidiDeviceList {
    UINT count;
    bool cut;  // there were more devices than kMaxListedDevices
    MidiDeviceListing devices[kMaxListedDevices];
};

void listMidiDevices(MidiDirection direction, MidiDeviceList& list);

// The device a run with no device named takes: the first whose name does not begin with
// "Microsoft", the system's own synthesizers and mappers. False when there is none.
bool firstUsableMidiDevice(const MidiDeviceList& list, UINT& index);

enum class DeviceChoice { kChosen, kNoDevice, kNoSuchIndex, kNoSuchName, kAmbiguous };

// The device the user named. A number is a device index as listed. A name is matched against the
// whole names: the one device that has it exactly wins, then the one that has it with another
// case, then the one it begins, case ignored. Two devices matching at the same step (two of one
// name, a prefix of two) are ambiguous: a device is never guessed.
DeviceChoice chooseMidiDevice(const MidiDeviceList& list, const char* wanted, UINT& index);

// Whether device index is one of those wanted could mean: the devices an ambiguous name matched,
// or every device when it matched none.
bool isCandidateMidiDevice(const MidiDeviceList& list, const char* wanted, UINT index);
