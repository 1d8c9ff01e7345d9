#pragma once

// Each test starts with fresh emulated devices and a closed, empty MIDI link.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulated_midi_service.h"
#include "midi/midi_port.h"

class MidiLinkTest : public ::testing::Test {
  protected:
    void SetUp() override { reset({}, {}); }
    void TearDown() override {
        closeMidiIn();
        closeMidiOut();
        emu::reset({}, {});
    }

    static void reset(std::vector<emu::InDeviceSpec> in, std::vector<emu::OutDeviceSpec> out) {
        closeMidiIn();
        closeMidiOut();
        emu::reset(std::move(in), std::move(out));
        midiPort.replyCount.store(0);
    }

    static std::vector<emu::InDeviceSpec> inNames(const std::vector<std::string>& names) {
        std::vector<emu::InDeviceSpec> specs;
        for (const auto& n : names) specs.push_back(emu::InDeviceSpec{n});
        return specs;
    }
    static std::vector<emu::OutDeviceSpec> outNames(const std::vector<std::string>& names) {
        std::vector<emu::OutDeviceSpec> specs;
        for (const auto& n : names) specs.push_back(emu::OutDeviceSpec{n});
        return specs;
    }
};
