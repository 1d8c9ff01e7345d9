#pragma once

// Where the emulated device sits among the ports the options lay out, and when it answers: the
// one rule of the simulator, brevanto-device's options and the page's demo.
#include "emu/emulated_brevanto.h"
#include "emu/sim_options.h"

namespace emu {

// The Out port the device listens on and the In port it answers on, by the device port's name;
// -1 where there is none. Without its Out port no device is attached.
struct DevicePlace {
    int out = -1;
    int in = -1;
};
DevicePlace devicePlace(const SimOptions& options);

// How long after the message it answers the device's reply comes: the lateness the device's
// script gives this attempt, else the options' delay.
int replyDelayMs(const BrevantoDevice& device, const SimOptions& options);

}  // namespace emu
