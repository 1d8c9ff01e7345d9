/* The updater's use of winmm without a byte sent: open the first MIDI In with a callback function,
   queue a buffer, start, then reset, unprepare and close it; open and close the first MIDI Out;
   pause through cmd and return. If Wine fails at the exit of this, the failure is Wine's and not
   the updater's. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <mmsystem.h>

static void CALLBACK on_input(HMIDIIN in, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                              DWORD_PTR param2) {
    (void)in, (void)message, (void)instance, (void)param1, (void)param2;
}

int main(void) {
    static char buffer[64];
    MIDIHDR header;
    HMIDIIN in;
    HMIDIOUT out;
    MMRESULT result = midiInOpen(&in, 0, (DWORD_PTR)on_input, 0, CALLBACK_FUNCTION);
    printf("midiInOpen %u\n", (unsigned)result);
    if (result == MMSYSERR_NOERROR) {
        memset(&header, 0, sizeof header);
        header.lpData = buffer;
        header.dwBufferLength = sizeof buffer;
        printf("midiInPrepareHeader %u\n",
               (unsigned)midiInPrepareHeader(in, &header, sizeof header));
        printf("midiInAddBuffer %u\n", (unsigned)midiInAddBuffer(in, &header, sizeof header));
        printf("midiInStart %u\n", (unsigned)midiInStart(in));
        Sleep(200);
        printf("midiInReset %u\n", (unsigned)midiInReset(in));
        printf("midiInUnprepareHeader %u\n",
               (unsigned)midiInUnprepareHeader(in, &header, sizeof header));
        printf("midiInClose %u\n", (unsigned)midiInClose(in));
    }
    result = midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL);
    printf("midiOutOpen %u\n", (unsigned)result);
    if (result == MMSYSERR_NOERROR) printf("midiOutClose %u\n", (unsigned)midiOutClose(out));
    fflush(stdout);
    system("pause");
    return 0;
}
