#pragma once

// Devices whose product name begins with "Microsoft", any case, are the system's own synths and
// mappers, never a Brevanto.
bool isSystemMidiDevice(const char* productName);
