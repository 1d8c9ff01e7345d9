#pragma once

// Each test starts with fresh emulated devices and a closed, empty MIDI link.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emu/emulated_midi_service.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "midi/midi_port.h"

class MidiLinkTest : public ::testing::Test {
  protected:
    void SetUp() override { reset({}, {}); }
    void TearDown() override {
        closeMidiIn();
        closeMidiOut();
        emu::reset({}, {});
        emu::useVirtualTime(false);
    }

    static void reset(std::vector<emu::InDeviceConfig> in, std::vector<emu::OutDeviceConfig> out) {
        closeMidiIn();
        closeMidiOut();
        emu::reset(std::move(in), std::move(out));
        midiPort.replyCount.store(0);
    }

    static std::vector<emu::InDeviceConfig> inNames(const std::vector<std::string>& names) {
        std::vector<emu::InDeviceConfig> configs;
        for (const auto& n : names) configs.push_back(emu::InDeviceConfig{n});
        return configs;
    }
    static std::vector<emu::OutDeviceConfig> outNames(const std::vector<std::string>& names) {
        std::vector<emu::OutDeviceConfig> configs;
        for (const auto& n : names) configs.push_back(emu::OutDeviceConfig{n});
        return configs;
    }
};
