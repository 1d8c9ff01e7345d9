#include "midi/midi_out.h"

#include <cstring>

#include "common/console_text.h"
#include "midi/device_name_filter.h"
#include "midi/midi_port.h"
#include "platform/midi_device_list.h"

namespace {

constexpr DWORD_PTR kNoCallback = 0;
constexpr DWORD_PTR kNoInstanceData = 0;

// Opens output device index and prints its line; systemDevice tells whether its name is one the
// search skips.
MMRESULT openOutputDevice(UINT index, bool& systemDevice) {
    const MMRESULT result =
        midiOutOpen(&midiPort.outHandle, index, kNoCallback, kNoInstanceData, CALLBACK_NULL);
    if (result != MMSYSERR_NOERROR) {
        midiPort.outOpen = 0;
        return result;
    }
    MIDIOUTCAPSA caps;
    std::memset(&caps, 0, sizeof caps);
    midiOutGetDevCapsA(index, &caps, sizeof caps);
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    printText(ConsoleText::kMidiOutDevice);

    midiPort.outOpen = 1;
    systemDevice = isSystemMidiDevice(caps.szPname);
    return MMSYSERR_NOERROR;
}

}  // namespace

MMRESULT openMidiOut(UINT startIndex) {
    for (UINT index = startIndex;; ++index) {
        bool systemDevice = false;
        const MMRESULT result = openOutputDevice(index, systemDevice);
        if (result != MMSYSERR_NOERROR || !systemDevice) {
            return result;
        }
        closeMidiOut();
    }
}

MMRESULT openChosenMidiOut(UINT index, const char* name) {
    // As for MIDI In: a device that is no longer the one chosen is taken as missing.
    MidiDeviceListing now;
    if (!midiOutDeviceListing(index, now) || std::strcmp(now.name, name) != 0) {
        midiPort.outOpen = 0;
        return MMSYSERR_BADDEVICEID;
    }
    bool systemDevice = false;
    return openOutputDevice(index, systemDevice);
}

int closeMidiOut() {
    if (midiPort.outOpen == 0) {
        return 0;
    }
    midiPort.outOpen = 0;
    // Every message has played out or been reset by now, so nothing is left to wait for.
    midiOutClose(midiPort.outHandle);
    return 1;
}

MMRESULT sendSysEx(const uint8_t* payload, uint16_t payloadBytes) {
    if (payloadBytes == 0 || payloadBytes > kMaxSysExPayload) {
        return MMSYSERR_INVALPARAM;
    }
    // Static, not on the stack: if the driver never lets go of a message, it can still read
    // this buffer after we have given up on it.
    static uint8_t message[kMaxSysExPayload + 2];
    message[0] = kSysExStart;
    std::memcpy(message + 1, payload, payloadBytes);
    message[payloadBytes + 1] = kSysExEnd;

    MIDIHDR& header = midiPort.outputHeader;
    std::memset(&header, 0, sizeof header);
    header.lpData = reinterpret_cast<LPSTR>(message);
    header.dwBufferLength = static_cast<DWORD>(payloadBytes + 2);
    header.dwFlags = 0;
    MMRESULT result = midiOutPrepareHeader(midiPort.outHandle, &header, sizeof header);
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    result = midiOutLongMsg(midiPort.outHandle, &header, sizeof header);
    if (result != MMSYSERR_NOERROR) {
        // Nothing was queued; release the preparation so the header is free for the next send.
        midiOutUnprepareHeader(midiPort.outHandle, &header, sizeof header);
        return result;
    }

    // The header can be unprepared only once the whole message has left.
    int waits = 0;
    while (midiOutUnprepareHeader(midiPort.outHandle, &header, sizeof header) ==
           MIDIERR_STILLPLAYING) {
        if (waits == kMaxStillPlayingWaits) {
            // Stuck: take the message back from the driver and report the port as failed.
            midiOutReset(midiPort.outHandle);
            midiOutUnprepareHeader(midiPort.outHandle, &header, sizeof header);
            return MIDIERR_STILLPLAYING;
        }
        Sleep(kStillPlayingStepMs);
        ++waits;
    }
    // Any other unprepare result means the message is no longer in the driver's hands.
    return MMSYSERR_NOERROR;
}
