#include <string>
#include <vector>

#include "driver/open_midi_ports.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "midi/midi_port.h"
#include "tests/midi/midi_fixture.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/transcript.h"

namespace {

using transcript::kMidiInMissing;
using transcript::kMidiOutMissing;
const std::string& kInLine = transcript::kPortIn;
const std::string& kOutLine = transcript::kPortOut;

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

struct ChoiceCase {
    const char* name;
    std::vector<std::string> devices;
    bool opens;
    int chosen;  // index left open, -1 for none
    int lines;   // device lines printed
};

const std::vector<ChoiceCase> kChoiceCases = {
    {"Microsoft first, device 1 chosen",
     {"Microsoft GS Wavetable Synth", "Brevanto MIDI"},
     true,
     1,
     2},
    {"upper-case MICROSOFT skipped", {"MICROSOFT MIDI Mapper", "USB MIDI"}, true, 1, 2},
    {"lower-case prefix with anything after skipped", {"microsoftXYZ", "USB MIDI"}, true, 1, 2},
    {"only the first 9 characters count", {"Microsof", "USB MIDI"}, true, 0, 1},
    {"first usable device wins", {"Brevanto A", "Brevanto B"}, true, 0, 1},
    {"no devices", {}, false, -1, 0},
    {"all filtered: a line each, then failure", {"Microsoft A", "Microsoft B"}, false, -1, 2},
};

using OpenPortsTest = MidiLinkTest;

TEST_F(OpenPortsTest, OutputDeviceChoice) {
    for (const auto& c : kChoiceCases) {
        reset({}, outNames(c.devices));
        StdoutCapture capture;
        const MMRESULT result = openMidiOut(0);
        EXPECT_EQ(capture.text(), repeat(kOutLine, c.lines)) << c.name;
        EXPECT_EQ(result == MMSYSERR_NOERROR, c.opens) << c.name;
        EXPECT_EQ(midiPort.outOpen, c.opens ? 1 : 0) << c.name;
        for (unsigned i = 0; i < c.devices.size(); ++i) {
            EXPECT_EQ(emu::outDeviceOpen(i), static_cast<int>(i) == c.chosen)
                << c.name << ": device " << i;
        }
        EXPECT_EQ(closeMidiOut(), c.opens ? 1 : 0) << c.name;
    }
}

TEST_F(OpenPortsTest, InputDeviceChoice) {
    for (const auto& c : kChoiceCases) {
        reset(inNames(c.devices), {});
        StdoutCapture capture;
        const MMRESULT result = openMidiIn(0);
        EXPECT_EQ(capture.text(), repeat(kInLine, c.lines)) << c.name;
        EXPECT_EQ(result == MMSYSERR_NOERROR, c.opens) << c.name;
        for (unsigned i = 0; i < c.devices.size(); ++i) {
            // A skipped device is really closed: its queued buffer was taken back first.
            EXPECT_EQ(emu::inDeviceOpen(i), static_cast<int>(i) == c.chosen)
                << c.name << ": device " << i;
        }
        if (c.opens) {
            EXPECT_EQ(emu::queuedInputBuffers(static_cast<unsigned>(c.chosen)), 1u) << c.name;
        }
        EXPECT_EQ(closeMidiIn(), c.opens ? 1 : 0) << c.name;
        if (c.chosen >= 0) {
            EXPECT_FALSE(emu::inDeviceOpen(static_cast<unsigned>(c.chosen))) << c.name;
        }
    }
}

TEST_F(OpenPortsTest, OpensInputAndStartsItBeforeLookingForOutput) {
    reset(inNames({"Brevanto MIDI"}), outNames({"Microsoft GS Wavetable Synth", "Brevanto MIDI"}));
    StdoutCapture capture;
    EXPECT_EQ(openMidiPorts(PortChoice{}), StageResult::kContinue);
    EXPECT_EQ(capture.text(), kInLine + kOutLine + kOutLine);
    const std::vector<std::string> expected = {"midiInOpen 0", "midiInStart", "midiOutOpen 0",
                                               "midiOutClose", "midiOutOpen 1"};
    EXPECT_EQ(emu::callLog(), expected);
}

struct MissingDeviceCase {
    const char* name;
    std::vector<emu::InDeviceConfig> in;
    std::vector<std::string> out;
    std::string expected;
    bool outLookedFor;
    int inClosed;  // what closeMidiIn returns in the end path
};

TEST_F(OpenPortsTest, MissingDevices) {
    const std::vector<MissingDeviceCase> cases = {
        {"no MIDI In at all", {}, {"Brevanto MIDI"}, kMidiInMissing, false, 0},
        {"MIDI In fails to open",
         {emu::InDeviceConfig{"Brevanto MIDI", MMSYSERR_ALLOCATED}},
         {"Brevanto MIDI"},
         kMidiInMissing,
         false,
         0},
        {"MIDI In fails to start: stays marked open for the end path",
         {emu::InDeviceConfig{"Brevanto MIDI", MMSYSERR_NOERROR, MMSYSERR_ERROR}},
         {"Brevanto MIDI"},
         kInLine + kMidiInMissing,
         false,
         1},
        {"no MIDI Out",
         {emu::InDeviceConfig{"Brevanto MIDI"}},
         {},
         kInLine + kMidiOutMissing,
         true,
         1},
        {"only the system synth",
         {emu::InDeviceConfig{"Brevanto MIDI"}},
         {"Microsoft GS Wavetable Synth"},
         kInLine + kOutLine + kMidiOutMissing,
         true,
         1},
    };
    for (const auto& c : cases) {
        reset(c.in, outNames(c.out));
        StdoutCapture capture;
        EXPECT_EQ(openMidiPorts(PortChoice{}), StageResult::kStop) << c.name;
        EXPECT_EQ(capture.text(), c.expected) << c.name;
        bool outOpened = false;
        for (const auto& call : emu::callLog()) outOpened |= call.rfind("midiOutOpen", 0) == 0;
        EXPECT_EQ(outOpened, c.outLookedFor) << c.name;
        EXPECT_EQ(closeMidiIn(), c.inClosed) << c.name;
        EXPECT_EQ(closeMidiOut(), 0) << c.name;
        if (!c.in.empty()) {
            EXPECT_FALSE(emu::inDeviceOpen(0)) << c.name;
        }
    }
}

}  // namespace
