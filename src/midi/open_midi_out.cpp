#include <cstdio>
#include <cstring>

#include "midi/device_name_filter.h"
#include "midi/midi_device_line.h"
#include "midi/midi_port.h"

namespace {

constexpr DWORD_PTR kNoCallback = 0;
constexpr DWORD_PTR kNoInstanceData = 0;

}  // namespace

MMRESULT openMidiOut(UINT startIndex) {
    for (UINT index = startIndex;; ++index) {
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
        std::printf("%s", kMsgMidiOutDevice);

        midiPort.outOpen = 1;
        if (!isSystemMidiDevice(caps.szPname)) {
            return MMSYSERR_NOERROR;
        }
        closeMidiOut();
    }
}
