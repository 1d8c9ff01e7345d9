// The winmm face over ports played by the test: device indexes, caps names, opening past the last
// device, input reaching the program's callback, output played out at once or later.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "midi/midi_port.h"
#include "platform/midi_api.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/transcript.h"
#include "tests/winmm_face/fake_port_system.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kThrough = "Midi Through:Midi Through Port-0 14:0";
const std::string kBrevantoOut = "Brevanto:Brevanto MIDI 129:0";  // the device's readable port
const std::string kBrevantoIn = "Brevanto:Brevanto MIDI 128:0";   // its writable port
const std::string kLongName = "An Interface With A Long Name:MIDI Port Number One 130:0";

struct WinmmFaceTest : ::testing::Test {
    void SetUp() override {
        fakePorts().clear();
        fakePorts().inputs = {kThrough, kBrevantoOut, kLongName};
        fakePorts().outputs = {kThrough, kBrevantoIn};
    }
    void TearDown() override { fakePorts().clear(); }
};

std::vector<UINT> notices;
void CALLBACK recordNotice(HMIDIIN, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    notices.push_back(message);
}

TEST_F(WinmmFaceTest, DevicesAreTheListedPortsWithoutTheLoopback) {
    MIDIINCAPSA in;
    ASSERT_EQ(midiInGetDevCapsA(0, &in, sizeof in), MMSYSERR_NOERROR);
    EXPECT_STREQ(in.szPname, kBrevantoOut.c_str());
    ASSERT_EQ(midiInGetDevCapsA(1, &in, sizeof in), MMSYSERR_NOERROR);
    EXPECT_STREQ(in.szPname, kLongName.substr(0, 31).c_str());
    EXPECT_EQ(midiInGetDevCapsA(2, &in, sizeof in), MMSYSERR_BADDEVICEID);

    MIDIOUTCAPSA out;
    ASSERT_EQ(midiOutGetDevCapsA(0, &out, sizeof out), MMSYSERR_NOERROR);
    EXPECT_STREQ(out.szPname, kBrevantoIn.c_str());
    EXPECT_EQ(midiOutGetDevCapsA(1, &out, sizeof out), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiOutGetDevCapsA(0, nullptr, sizeof out), MMSYSERR_INVALPARAM);
}

TEST_F(WinmmFaceTest, OpeningPastTheLastDeviceFails) {
    HMIDIIN in = nullptr;
    HMIDIOUT out = nullptr;
    EXPECT_EQ(midiInOpen(&in, 2, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiOutOpen(&out, 1, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(fakePorts().noDeviceReports, 0);  // devices exist: nothing to explain
    fakePorts().inputs = {kThrough};
    EXPECT_EQ(midiInOpen(&in, 0, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(fakePorts().noDeviceReports, 1);
    EXPECT_TRUE(fakePorts().openedInputs.empty());
    EXPECT_TRUE(fakePorts().openedOutputs.empty());
}

TEST_F(WinmmFaceTest, DeviceIndexOpensItsPort) {
    notices.clear();
    HMIDIIN in = nullptr;
    ASSERT_EQ(midiInOpen(&in, 1, reinterpret_cast<DWORD_PTR>(&recordNotice), 0, CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    ASSERT_EQ(fakePorts().openedInputs.size(), 1u);
    EXPECT_EQ(fakePorts().openedInputs[0].portNumber, 2u);
    EXPECT_EQ(notices, std::vector<UINT>{MIM_OPEN});
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(notices, (std::vector<UINT>{MIM_OPEN, MIM_CLOSE}));
    EXPECT_FALSE(fakePorts().openedInputs[0].open);
    // The handle is gone with the device.
    EXPECT_EQ(midiInClose(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(midiInStart(in), MMSYSERR_INVALHANDLE);
}

TEST_F(WinmmFaceTest, OnlyFunctionCallbacks) {
    HMIDIIN in = nullptr;
    HMIDIOUT out = nullptr;
    constexpr DWORD kCallbackWindow = 0x00010000u;
    EXPECT_EQ(midiInOpen(&in, 0, 0, 0, kCallbackWindow), MMSYSERR_INVALFLAG);
    EXPECT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALFLAG);
}

TEST_F(WinmmFaceTest, OutputSendsEachMessageWholeAndPlayedOut) {
    HMIDIOUT out = nullptr;
    ASSERT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(fakePorts().openedOutputs, std::vector<unsigned>{1});

    uint8_t probe[] = {0xF0, 0x4C, 0x2E, 0x93, 0x07, 0x8D, 0x21, 0x95, 0xF7};
    MIDIHDR header;
    std::memset(&header, 0, sizeof header);
    header.lpData = reinterpret_cast<LPSTR>(probe);
    header.dwBufferLength = sizeof probe;
    EXPECT_EQ(midiOutLongMsg(out, &header, sizeof header), MIDIERR_UNPREPARED);
    ASSERT_EQ(midiOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, MHDR_PREPARED | MHDR_DONE);
    EXPECT_EQ(midiOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags & MHDR_PREPARED, 0u);
    ASSERT_EQ(fakePorts().sent.size(), 1u);
    EXPECT_EQ(fakePorts().sent[0], Bytes(probe, probe + sizeof probe));

    // A refused send leaves the header as it was, prepared and free for the next one.
    fakePorts().refuseSends = true;
    midiOutPrepareHeader(out, &header, sizeof header);
    EXPECT_EQ(midiOutLongMsg(out, &header, sizeof header), MIDIERR_NOTREADY);
    EXPECT_EQ(header.dwFlags & (MHDR_PREPARED | MHDR_INQUEUE), MHDR_PREPARED);
    EXPECT_EQ(midiOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutLongMsg(out, &header, sizeof header), MMSYSERR_INVALHANDLE);
}

// A port that drains its messages later, as raw MIDI or a browser does: the header stays with
// the port until it says the message has played out, or until a reset takes it back.
TEST_F(WinmmFaceTest, OutputPlayingOutLater) {
    fakePorts().holdSends = true;
    HMIDIOUT out = nullptr;
    ASSERT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    uint8_t message[] = {0xF0, 0x30, 0x30, 0xF7};
    MIDIHDR header;
    std::memset(&header, 0, sizeof header);
    header.lpData = reinterpret_cast<LPSTR>(message);
    header.dwBufferLength = sizeof message;
    ASSERT_EQ(midiOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, MHDR_PREPARED | MHDR_INQUEUE);
    EXPECT_EQ(midiOutLongMsg(out, &header, sizeof header), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiOutUnprepareHeader(out, &header, sizeof header), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiOutClose(out), MIDIERR_STILLPLAYING);

    fakePorts().finishSends();
    EXPECT_EQ(header.dwFlags, MHDR_PREPARED | MHDR_DONE);
    ASSERT_EQ(midiOutLongMsg(out, &header, sizeof header), MMSYSERR_NOERROR);

    // A reset cuts the port's message off and hands the header back; the port never finishes it.
    EXPECT_EQ(midiOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(fakePorts().cutOffs, 1);
    EXPECT_EQ(header.dwFlags, MHDR_PREPARED | MHDR_DONE);
    EXPECT_EQ(midiOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(fakePorts().sent.size(), 2u);
}

// The program's own MIDI link on top: its ports opened by index, a reply from the port's thread
// landing in the reply slot while the callback re-arms, then its close taking the buffer back.
TEST_F(WinmmFaceTest, ProgramPortsOverTheService) {
    StdoutCapture capture;
    ASSERT_EQ(openMidiIn(0), MMSYSERR_NOERROR);
    ASSERT_EQ(openMidiOut(0), MMSYSERR_NOERROR);
    EXPECT_EQ(capture.text(), transcript::kPortIn + transcript::kPortOut);

    constexpr int kReplies = 500;
    std::thread port([] {
        for (int i = 0; i < kReplies; ++i) fakePorts().deliver(0, {0xF0, 0x1A, 0x00, 0x01, 0xF7});
    });
    port.join();
    EXPECT_EQ(replyCountNow(), 5);
    EXPECT_EQ(takeReplyCode(), 0x1A);
    EXPECT_EQ(midiPort.inputHeader.dwFlags, MHDR_PREPARED | MHDR_INQUEUE);

    const uint8_t payload[] = {'0', '0', '0', '5'};
    EXPECT_EQ(sendSysEx(payload, sizeof payload), MMSYSERR_NOERROR);
    ASSERT_EQ(fakePorts().sent.size(), 1u);
    EXPECT_EQ(fakePorts().sent[0], (Bytes{0xF0, '0', '0', '0', '5', 0xF7}));

    // Replies keep coming while the program closes.
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop.load()) fakePorts().deliver(0, {0xF0, 0x33, 0xF7});
    });
    EXPECT_EQ(closeMidiIn(), 1);
    stop.store(true);
    busy.join();
    EXPECT_EQ(closeMidiOut(), 1);
    EXPECT_FALSE(fakePorts().openedInputs[0].open);
    EXPECT_EQ(midiPort.inputHeader.dwFlags & (MHDR_INQUEUE | MHDR_PREPARED), 0u);
}

}  // namespace
