// The multimedia MIDI calls the updater makes. On Windows with the real service this is winmm's
// own <mmsystem.h>; otherwise the same names are declared here and a MIDI service chosen at link
// time (emulated, RtMidi, or one with no devices) defines them.
#pragma once

#include "platform/win_base.h"

#if defined(_WIN32) && !defined(TALVERON_OWN_MIDI_SERVICE)
#include <mmsystem.h>
#else

typedef UINT MMRESULT;
typedef UINT MMVERSION;

struct HMIDIIN__ {
    int unused;
};
struct HMIDIOUT__ {
    int unused;
};
typedef HMIDIIN__* HMIDIIN;
typedef HMIDIOUT__* HMIDIOUT;
typedef HMIDIIN* LPHMIDIIN;
typedef HMIDIOUT* LPHMIDIOUT;

#define MAXPNAMELEN 32

struct MIDIHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    MIDIHDR* lpNext;
    DWORD_PTR reserved;
    DWORD dwOffset;
    DWORD_PTR dwReserved[8];
};
typedef MIDIHDR* LPMIDIHDR;

struct MIDIINCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    DWORD dwSupport;
};
typedef MIDIINCAPSA* LPMIDIINCAPSA;

struct MIDIOUTCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
};
typedef MIDIOUTCAPSA* LPMIDIOUTCAPSA;

#define MMSYSERR_NOERROR 0u
#define MMSYSERR_ERROR 1u
#define MMSYSERR_BADDEVICEID 2u
#define MMSYSERR_ALLOCATED 4u
#define MMSYSERR_INVALHANDLE 5u
#define MMSYSERR_NODRIVER 6u
#define MMSYSERR_NOMEM 7u
#define MMSYSERR_INVALFLAG 10u
#define MMSYSERR_INVALPARAM 11u
#define MIDIERR_UNPREPARED 64u
#define MIDIERR_STILLPLAYING 65u
#define MIDIERR_NOTREADY 67u

#define CALLBACK_NULL 0x00000000u
#define CALLBACK_FUNCTION 0x00030000u

#define MIM_OPEN 0x3C1u
#define MIM_CLOSE 0x3C2u
#define MIM_DATA 0x3C3u
#define MIM_LONGDATA 0x3C4u
#define MIM_ERROR 0x3C5u
#define MIM_LONGERROR 0x3C6u

#define MHDR_DONE 0x00000001u
#define MHDR_PREPARED 0x00000002u
#define MHDR_INQUEUE 0x00000004u

MMRESULT WINAPI midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback,
                           DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic);
MMRESULT WINAPI midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT WINAPI midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT WINAPI midiInStart(HMIDIIN hmi);
MMRESULT WINAPI midiInReset(HMIDIIN hmi);
MMRESULT WINAPI midiInClose(HMIDIIN hmi);

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback,
                            DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc);
MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT WINAPI midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT WINAPI midiOutReset(HMIDIOUT hmo);
MMRESULT WINAPI midiOutClose(HMIDIOUT hmo);

#endif
