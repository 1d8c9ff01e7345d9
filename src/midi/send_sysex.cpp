#include "midi/send_sysex.h"

#include <cstring>

#include "midi/midi_port.h"

MMRESULT sendSysEx(const uint8_t* payload, uint16_t n) {
    if (n == 0 || n > kMaxSysExPayload) {
        return MMSYSERR_INVALPARAM;
    }
    // Static, not on the stack: if the driver never lets go of a message, it can still read
    // this buffer after we have given up on it.
    static uint8_t message[kMaxSysExPayload + 2];
    message[0] = kSysExStart;
    std::memcpy(message + 1, payload, n);
    message[n + 1] = kSysExEnd;

    MIDIHDR& header = midiPort.outputHeader;
    std::memset(&header, 0, sizeof header);
    header.lpData = reinterpret_cast<LPSTR>(message);
    header.dwBufferLength = static_cast<DWORD>(n + 2);
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
