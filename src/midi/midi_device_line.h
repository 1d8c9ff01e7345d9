#pragma once

// Printed for every device opened, also for those the name filter then skips. Fixed text: the
// device's own name is not shown.
constexpr const char* kMsgMidiInDevice = "MIDI IN DEVICE: TALVERON Device\r\n";
constexpr const char* kMsgMidiOutDevice = "MIDI OUT DEVICE: TALVERON Device\r\n";
