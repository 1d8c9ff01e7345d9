// The page's clock, kept by the page: performance.now, or a virtual clock that moves only when
// the program pauses (the browser tests, and the demo when asked, for the protocol's long
// waits). The MIDI input the page queues is timed on the same clock.
#pragma once

// Milliseconds on the page's monotonic clock.
double pageNowMilliseconds();

// Gives the page the thread for at least this long: its events, input and drawing go on, and the
// program resumes once the time has passed. Nothing may call into the program meanwhile.
void pagePause(double milliseconds);
