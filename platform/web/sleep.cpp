// Sleep as a pause that yields to the page: the program's 1 ms pauses between chunks and its
// reply polls let the page draw, take input and queue MIDI messages, which the program then takes
// on its own thread of control.
#include "platform/web/page_clock.h"
#include "platform/web/page_midi_input.h"
#include "platform/win_base.h"

void Sleep(DWORD dwMilliseconds) {
    pagePause(static_cast<double>(dwMilliseconds));
    handOverPageMidiInput();
}
