// MIDI input waits in the page while the program is paused, as the page may not call into the
// program then; the program takes it after every pause.
#pragma once

// Hands every message that has arrived by now on the page's clock to the open input ports' sinks,
// in the order of arrival.
void handOverPageMidiInput();
