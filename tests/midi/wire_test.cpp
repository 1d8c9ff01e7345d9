// Exact bytes on the wire: System Exclusive framing and the hex chunks of a record.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/hex_chunks.h"
#include "midi/midi_out.h"
#include "midi/midi_port.h"
#include "tests/midi/midi_fixture.h"
#include "tests/support/kit_builder.h"
#include "tests/support/stdout_capture.h"

namespace {

// A whole record, chunk after chunk as the transfer sends it: 0, or the failure of the first full
// chunk that could not be sent.
MMRESULT sendRecordHex(const uint8_t* record, uint16_t recordBytes) {
    HexChunks chunks = startHexChunks(record, recordBytes);
    while (hexChunksLeft(chunks)) {
        const MMRESULT result = sendNextHexChunk(chunks);
        if (result != MMSYSERR_NOERROR) return result;
    }
    return MMSYSERR_NOERROR;
}

class WireTest : public MidiLinkTest {
  protected:
    void openOut(emu::OutDeviceConfig config) {
        reset({}, {config});
        StdoutCapture quiet;
        ASSERT_EQ(openMidiOut(0), MMSYSERR_NOERROR);
    }
    static std::vector<std::string> wire() {
        std::vector<std::string> lines;
        for (const auto& m : emu::sentMessages()) lines.push_back(hexOf(m.bytes));
        return lines;
    }
    // The program's own clock, which the emulated ports' virtual time moves only as it pauses.
    static int64_t programMilliseconds() {
        LARGE_INTEGER count;
        LARGE_INTEGER frequency;
        QueryPerformanceCounter(&count);
        QueryPerformanceFrequency(&frequency);
        return count.QuadPart / (frequency.QuadPart / 1000);
    }
    // Payload sizes of the messages sent, F0 and F7 not counted.
    static std::vector<size_t> payloadSizes() {
        std::vector<size_t> sizes;
        for (const auto& m : emu::sentMessages()) sizes.push_back(m.bytes.size() - 2);
        return sizes;
    }
};

TEST_F(WireTest, SevenByteRecordIsOneShortMessage) {
    openOut({"Brevanto MIDI"});
    // LEN 5: three data bytes and the checksum FA FF; 7 bytes fit one short chunk.
    const Bytes record = {0x00, 0x05, 0x01, 0x02, 0x03, 0xFA, 0xFF};
    EXPECT_EQ(sendRecordHex(record.data(), 7), MMSYSERR_NOERROR);
    EXPECT_EQ(wire(), std::vector<std::string>{"F0 30 30 30 35 30 31 30 32 30 33 46 41 46 46 F7"});
}

TEST_F(WireTest, RecordsSplitIntoChunksOfAtMost23Bytes) {
    struct SplitCase {
        uint16_t size;
        std::vector<size_t> payloads;
    };
    const std::vector<SplitCase> cases = {
        {7, {14}}, {23, {46}}, {24, {46, 2}}, {46, {46, 46}}, {70, {46, 46, 46, 2}}, {1, {2}},
    };
    for (const auto& c : cases) {
        openOut({"Brevanto MIDI"});
        const Bytes record = countingPayload(c.size, 0x41);
        EXPECT_EQ(sendRecordHex(record.data(), c.size), MMSYSERR_NOERROR) << c.size;
        EXPECT_EQ(payloadSizes(), c.payloads) << "record of " << c.size << " bytes";
        // Taken together the chunks spell the record, high nibble first, upper case.
        std::string spelled;
        for (const auto& m : emu::sentMessages()) {
            EXPECT_EQ(m.bytes.front(), 0xF0);
            EXPECT_EQ(m.bytes.back(), 0xF7);
            spelled.append(m.bytes.begin() + 1, m.bytes.end() - 1);
        }
        std::string expected;
        for (uint8_t b : record) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02X", b);
            expected += digits;
        }
        EXPECT_EQ(spelled, expected) << c.size;
    }
}

TEST_F(WireTest, HexEncodingOfEveryByteStaysBelow0x80) {
    const std::vector<std::pair<uint8_t, std::string>> cases = {
        {0x00, "00"}, {0x0A, "0A"}, {0xF7, "F7"}, {0xF0, "F0"}, {0x9C, "9C"}, {0xFF, "FF"}};
    for (const auto& [byte, text] : cases) {
        char out[2];
        hexEncodeByte(byte, out);
        EXPECT_EQ(std::string(out, 2), text);
    }
    openOut({"Brevanto MIDI"});
    const Bytes record = {0x0A, 0xF7};
    sendRecordHex(record.data(), 2);
    EXPECT_EQ(wire(), std::vector<std::string>{"F0 30 41 46 37 F7"});
}

TEST_F(WireTest, RawPayloadGoesOutUnchanged) {
    openOut({"Brevanto MIDI"});
    const Bytes probe = {0x4C, 0x2E, 0x93, 0x07, 0x8D, 0x21, 0x95};
    EXPECT_EQ(sendSysEx(probe.data(), 7), MMSYSERR_NOERROR);
    EXPECT_EQ(wire(), std::vector<std::string>{"F0 4C 2E 93 07 8D 21 95 F7"});
}

TEST_F(WireTest, PayloadOutsideOneToFortySixBytesIsRefused) {
    openOut({"Brevanto MIDI"});
    const Bytes big(47, 0x30);
    EXPECT_EQ(sendSysEx(big.data(), 47), MMSYSERR_INVALPARAM);
    EXPECT_EQ(sendSysEx(big.data(), 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(sendSysEx(big.data(), 46), MMSYSERR_NOERROR);
    EXPECT_EQ(payloadSizes(), std::vector<size_t>{46});
}

TEST_F(WireTest, FailedFullChunkStopsTheRecord) {
    emu::OutDeviceConfig unplugged{"Brevanto MIDI"};
    unplugged.acceptLimit = 1;
    openOut(unplugged);
    const Bytes record = countingPayload(70);
    EXPECT_EQ(sendRecordHex(record.data(), 70), MMSYSERR_NODRIVER);
    EXPECT_EQ(payloadSizes(), std::vector<size_t>{46});
}

TEST_F(WireTest, FailedLastShortChunkIsNotReported) {
    emu::OutDeviceConfig unplugged{"Brevanto MIDI"};
    unplugged.acceptLimit = 1;
    openOut(unplugged);
    const Bytes record = countingPayload(24);
    EXPECT_EQ(sendRecordHex(record.data(), 24), MMSYSERR_NOERROR);
    EXPECT_EQ(payloadSizes(), std::vector<size_t>{46});
}

TEST_F(WireTest, BusyOutputIsWaitedForInSteps) {
    // A message still playing when midiOutLongMsg returns is waited for in 100 ms steps; a driver
    // that blocks has let go of it by then. Four bytes on the wire: F0 30 30 F7.
    struct Output {
        const char* name;
        int playMs;
        long bytesPerSecond;
        bool blocking;
        int64_t sendMs;  // on the program's clock until sendSysEx returns
    };
    const std::vector<Output> outputs = {
        {"busy for 250 ms: three steps", 250, 0, false, 300},
        {"40 ms on a link of 100 bytes a second: one step", 0, 100, false, 100},
        {"the same, midiOutLongMsg blocking: the link's 40 ms", 0, 100, true, 40},
        {"busy for 250 ms and blocking", 250, 0, true, 250},
    };
    for (const Output& o : outputs) {
        ASSERT_TRUE(emu::useVirtualTime(true));
        emu::OutDeviceConfig out{"Brevanto MIDI"};
        out.playTime = std::chrono::milliseconds(o.playMs);
        out.bytesPerSecond = o.bytesPerSecond;
        out.blocking = o.blocking;
        openOut(out);
        const Bytes payload = {0x30, 0x30};
        const int64_t start = programMilliseconds();
        EXPECT_EQ(sendSysEx(payload.data(), 2), MMSYSERR_NOERROR) << o.name;
        EXPECT_EQ(programMilliseconds() - start, o.sendMs) << o.name;
        EXPECT_EQ(closeMidiOut(), 1) << o.name;
        EXPECT_FALSE(emu::outDeviceOpen(0)) << o.name;
    }
}

TEST_F(WireTest, StuckOutputGivesUpAfterFiveSeconds) {
    ASSERT_TRUE(emu::useVirtualTime(true));
    emu::OutDeviceConfig stuck{"Brevanto MIDI"};
    stuck.playTime = std::chrono::hours(1);
    openOut(stuck);
    const Bytes payload = {0x30, 0x30};
    const int64_t start = programMilliseconds();
    EXPECT_EQ(sendSysEx(payload.data(), 2), MIDIERR_STILLPLAYING);
    EXPECT_EQ(programMilliseconds() - start, int64_t{kStillPlayingBoundMs});
    // The message was taken back, so the port closes.
    const auto calls = emu::callLog();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "midiOutReset"), calls.end());
    EXPECT_EQ(closeMidiOut(), 1);
    EXPECT_FALSE(emu::outDeviceOpen(0));
}

}  // namespace
