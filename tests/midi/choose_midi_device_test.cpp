// Which device a name or number the user gives chooses, over lists of device names as platforms
// give them: the pitfalls users of other MIDI tools meet (a prefix of two names, two devices of
// one name, a number past the last device) end in a refusal, never in a guess.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "midi/choose_midi_device.h"

namespace {

MidiDeviceList listOf(const std::vector<std::string>& names) {
    MidiDeviceList list{};
    for (const std::string& name : names) {
        std::strncpy(list.devices[list.count].name, name.c_str(), kMidiDeviceNameSize - 1);
        ++list.count;
    }
    return list;
}

struct ChoiceCase {
    const char* what;
    std::vector<std::string> devices;
    const char* wanted;
    DeviceChoice expected;
    UINT index;                    // the device chosen, when one is
    std::vector<UINT> candidates;  // the devices a refusal names
};

TEST(ChooseMidiDevice, NamesAndNumbersOverDeviceLists) {
    const std::vector<std::string> keyboardFirst = {"USB Keyboard", "Brevanto MIDI"};
    const std::vector<std::string> ports = {"Port 1", "Port 10", "Port 2"};
    const std::vector<ChoiceCase> cases = {
        {"a prefix of one name", keyboardFirst, "Brevanto", DeviceChoice::kChosen, 1, {}},
        {"the name in another case", keyboardFirst, "brevanto midi", DeviceChoice::kChosen, 1, {}},
        {"a prefix in another case", keyboardFirst, "usb", DeviceChoice::kChosen, 0, {}},
        {"an exact name beats the longer one it begins",
         ports,
         "Port 1",
         DeviceChoice::kChosen,
         0,
         {}},
        {"an exact name beats one of another case",
         {"brevanto MIDI", "Brevanto MIDI"},
         "Brevanto MIDI",
         DeviceChoice::kChosen,
         1,
         {}},
        {"a prefix of two names", ports, "Port", DeviceChoice::kAmbiguous, 0, {0, 1, 2}},
        {"a prefix of two of three",
         {"Brevanto A", "Keyboard", "Brevanto B"},
         "brev",
         DeviceChoice::kAmbiguous,
         0,
         {0, 2}},
        {"two devices of one name",
         {"Brevanto MIDI", "Brevanto MIDI"},
         "Brevanto MIDI",
         DeviceChoice::kAmbiguous,
         0,
         {0, 1}},
        {"two of one name apart by number",
         {"Brevanto MIDI", "Brevanto MIDI"},
         "1",
         DeviceChoice::kChosen,
         1,
         {}},
        {"a number", ports, "2", DeviceChoice::kChosen, 2, {}},
        {"a number with a leading zero", ports, "02", DeviceChoice::kChosen, 2, {}},
        {"a number past the last device", ports, "3", DeviceChoice::kNoSuchIndex, 0, {0, 1, 2}},
        {"a number far past it", ports, "999999999", DeviceChoice::kNoSuchIndex, 0, {0, 1, 2}},
        {"an unknown name", keyboardFirst, "Synth", DeviceChoice::kNoSuchName, 0, {0, 1}},
        {"a name longer than the device's",
         keyboardFirst,
         "Brevanto MIDI 2",
         DeviceChoice::kNoSuchName,
         0,
         {0, 1}},
        {"a system device named",
         {"Microsoft GS Wavetable Synth", "Brevanto MIDI"},
         "micro",
         DeviceChoice::kChosen,
         0,
         {}},
        {"no device at all", {}, "Brevanto", DeviceChoice::kNoDevice, 0, {}},
        {"no device, a number", {}, "0", DeviceChoice::kNoDevice, 0, {}},
        {"a Linux port by its client",
         {"Midi Keys:Midi Keys MIDI 1 20:0", "Brevanto:Brevanto MIDI 128:0"},
         "Brevanto",
         DeviceChoice::kChosen,
         1,
         {}},
    };
    for (const ChoiceCase& c : cases) {
        const MidiDeviceList list = listOf(c.devices);
        UINT index = 77;
        EXPECT_EQ(chooseMidiDevice(list, c.wanted, index), c.expected) << c.what;
        if (c.expected == DeviceChoice::kChosen) {
            EXPECT_EQ(index, c.index) << c.what;
        }
        std::vector<UINT> candidates;
        for (UINT i = 0; i < list.count; ++i) {
            if (isCandidateMidiDevice(list, c.wanted, i)) candidates.push_back(i);
        }
        if (c.expected != DeviceChoice::kChosen) {
            EXPECT_EQ(candidates, c.candidates) << c.what;
        }
    }
}

// The device a run takes when none is named: the first not named Microsoft, any case.
TEST(ChooseMidiDevice, FirstUsableSkipsTheSystemsDevices) {
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"Brevanto MIDI"}, 0},
        {{"Microsoft GS Wavetable Synth", "Brevanto MIDI"}, 1},
        {{"MICROSOFT MIDI Mapper", "microsoftish", "USB Keyboard"}, 2},
        {{"Microsof", "Brevanto MIDI"}, 0},
        {{"Microsoft GS Wavetable Synth"}, -1},
        {{}, -1},
    };
    for (const auto& [names, expected] : cases) {
        UINT index = 0;
        const bool found = firstUsableMidiDevice(listOf(names), index);
        EXPECT_EQ(found ? static_cast<int>(index) : -1, expected) << names.size();
    }
}

}  // namespace
