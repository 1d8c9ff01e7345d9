// A MIDI service with no devices, for systems where no real one is linked: every open fails as
// it would past the last device, and the calls that need an open device refuse its handle.
#include <cstdio>

#include "midi_api.h"

namespace {

// The run ends without a device whatever is attached: say why, once, on standard error.
MMRESULT noMidiLibrary() {
    static bool said = false;
    if (!said) {
        said = true;
        std::fputs(
            "talveron-update: built without a MIDI library, so no MIDI device can be reached: "
            "install librtmidi-dev and libasound2-dev, then configure and build again\n",
            stderr);
    }
    return MMSYSERR_BADDEVICEID;
}

}  // namespace

MMRESULT WINAPI midiInOpen(LPHMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD) {
    return noMidiLibrary();
}
MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR, LPMIDIINCAPSA, UINT) {
    return MMSYSERR_BADDEVICEID;
}
MMRESULT WINAPI midiInPrepareHeader(HMIDIIN, LPMIDIHDR, UINT) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN, LPMIDIHDR, UINT) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiInAddBuffer(HMIDIIN, LPMIDIHDR, UINT) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiInStart(HMIDIIN) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiInReset(HMIDIIN) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiInClose(HMIDIIN) {
    return MMSYSERR_INVALHANDLE;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD) {
    return noMidiLibrary();
}
MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR, LPMIDIOUTCAPSA, UINT) {
    return MMSYSERR_BADDEVICEID;
}
MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT, LPMIDIHDR, UINT) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT, LPMIDIHDR, UINT) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiOutLongMsg(HMIDIOUT, LPMIDIHDR, UINT) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiOutReset(HMIDIOUT) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT WINAPI midiOutClose(HMIDIOUT) {
    return MMSYSERR_INVALHANDLE;
}
