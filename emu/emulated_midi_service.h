#pragma once

// The emulated MIDI ports: a port system under the winmm face (platform/winmm_face), which gives
// the program the midiIn*/midiOut* functions of platform/midi_api.h. Input reaches the face on a
// thread of the service, at its due time; output messages play for a settable time, or at the
// link's speed one after another, and are recorded; a peer (an emulated device) can take every
// message an Out device plays and answer on an In device.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emu/wire_log.h"
#include "platform/midi_api.h"

namespace emu {

using Bytes = std::vector<uint8_t>;

struct InDeviceConfig {
    std::string name;
    MMRESULT openResult = MMSYSERR_NOERROR;   // non-zero: opening the port fails with it
    MMRESULT startResult = MMSYSERR_NOERROR;  // non-zero: starting the port fails with it
};

struct OutDeviceConfig {
    std::string name;
    MMRESULT openResult = MMSYSERR_NOERROR;
    std::chrono::milliseconds playTime{0};  // how long each message keeps playing (0: none)
    long acceptLimit = -1;                  // messages accepted before every send fails; -1: all
    // The link's speed: each message also plays for its length at this many bytes a second, once
    // the one before it has played out, as on a cable (0: no speed of its own).
    long bytesPerSecond = 0;
    // midiOutLongMsg returns only once the message has played out, as a driver that blocks does;
    // otherwise it returns at once and the header stays in the port's hands until then.
    bool blocking = false;
};

// Called on the service's thread with every message an Out device has played out.
using Peer = std::function<void(const Bytes& message)>;

// Starts afresh with these devices: every port closed, nothing recorded, no peer, no pending input.
void reset(std::vector<InDeviceConfig> inDevices, std::vector<OutDeviceConfig> outDevices);

void attachPeer(unsigned outDevice, Peer peer);

// Input from the outside world on an In device, delivered after the delay if the device is open
// and started: a System Exclusive message (F0 ... F7) fills queued buffers, anything else is a
// short message. A long error hands the first queued buffer back with MIM_LONGERROR instead.
void sendInput(unsigned inDevice, Bytes bytes,
               std::chrono::milliseconds delay = std::chrono::milliseconds(0));
void sendInputError(unsigned inDevice, Bytes bytes);

// Waits until every input due so far has been delivered (bounded; false on time-out).
bool waitForInputDelivered(std::chrono::milliseconds limit = std::chrono::milliseconds(2000));

// Puts the program's pauses and clock, and the service's own timing (input delays, messages
// playing), on a virtual clock that moves only when the program pauses; each pause returns once
// everything that has come due is delivered. Turned off, time is real again. Returns false where
// the program's pauses are the system's own (Windows).
bool useVirtualTime(bool on);

std::vector<SentMessage> sentMessages();
// The calls that opened, started, reset or closed a device, in order, as "midiInOpen 0",
// "midiInStart", "midiOutOpen 1"...
std::vector<std::string> callLog();
bool inDeviceOpen(unsigned inDevice);
bool outDeviceOpen(unsigned outDevice);
size_t queuedInputBuffers(unsigned inDevice);
// Messages the callback received, by kind (MIM_OPEN, MIM_DATA...).
unsigned notices(unsigned inDevice, UINT kind);

}  // namespace emu
