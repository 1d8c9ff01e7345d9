#include <cstdio>
#include <cstring>

#include "midi/device_name_filter.h"
#include "midi/midi_device_line.h"
#include "midi/midi_port.h"

namespace {

constexpr DWORD_PTR kNoInstanceData = 0;

// Points the input header at the reply buffer, queues it and starts input. The prepare and queue
// results are not examined: a buffer that was not queued only means no reply ever arrives, which
// the handshake reports as a silent device.
MMRESULT armReception() {
    MIDIHDR& header = midiPort.inputHeader;
    std::memset(&header, 0, sizeof header);
    header.lpData = midiPort.replyBuffer;
    header.dwBufferLength = kReplyBufferSize;
    header.dwBytesRecorded = 0;
    header.dwFlags = 0;
    midiInPrepareHeader(midiPort.inHandle, &header, sizeof header);
    midiInAddBuffer(midiPort.inHandle, &header, sizeof header);
    midiPort.inOpen.store(1);
    return midiInStart(midiPort.inHandle);
}

}  // namespace

MMRESULT openMidiIn(UINT startIndex) {
    for (UINT index = startIndex;; ++index) {
        MMRESULT result =
            midiInOpen(&midiPort.inHandle, index, reinterpret_cast<DWORD_PTR>(&onMidiInput),
                       kNoInstanceData, CALLBACK_FUNCTION);
        if (result != MMSYSERR_NOERROR) {
            // Also the way the search ends after the last device.
            midiPort.inOpen.store(0);
            return result;
        }
        MIDIINCAPSA caps;
        std::memset(&caps, 0, sizeof caps);
        // A device whose caps cannot be read has an empty name, which the filter lets through.
        midiInGetDevCapsA(index, &caps, sizeof caps);
        caps.szPname[sizeof caps.szPname - 1] = '\0';
        std::printf("%s", kMsgMidiInDevice);

        result = armReception();
        if (!isSystemMidiDevice(caps.szPname)) {
            return result;
        }
        closeMidiIn();
    }
}
