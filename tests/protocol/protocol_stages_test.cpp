// The handshake and the transfer called in-process against the emulated service, where a test
// needs to reach into the reply slot or time the device's answers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "driver/open_midi_ports.h"
#include "emu/emulated_setup.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "midi/midi_port.h"
#include "protocol/handshake.h"
#include "protocol/transfer_image.h"
#include "tests/protocol/sim_run.h"
#include "tests/support/stdout_capture.h"

namespace {

using namespace transcript;

constexpr uint8_t kIdentityCode = 0x33;
ImageBuffer stagedImage;

class ProtocolStagesTest : public ::testing::Test {
  protected:
    // Reply waits of seconds, on virtual time.
    void SetUp() override { ASSERT_TRUE(emu::useVirtualTime(true)); }
    void TearDown() override {
        closeMidiIn();
        closeMidiOut();
        emu::reset({}, {});
        emu::useVirtualTime(false);
    }

    // The image is staged without a kit file.
    static void stage(const Bytes& image) {
        std::memcpy(stagedImage.bytes, image.data(), image.size());
        stagedImage.count = static_cast<uint16_t>(image.size());
    }

    // Default ports and device.
    std::shared_ptr<emu::BrevantoDevice> start(const Bytes& image, emu::SimOptions options = {}) {
        stage(image);
        auto device = emu::setUpEmulation(options);
        midiPort.replyCount.store(0);
        StdoutCapture quiet;
        EXPECT_EQ(openMidiPorts(PortChoice{}), StageResult::kContinue);
        return device;
    }

    // One In and one Out port, the device's, with a peer of the test's own in place of the
    // scripted device; the caller opens the ports.
    static void startWithPeer(const Bytes& image, emu::Peer peer,
                              emu::OutDeviceConfig out = emu::OutDeviceConfig{"Brevanto MIDI"}) {
        stage(image);
        emu::reset({emu::InDeviceConfig{"Brevanto MIDI"}}, {std::move(out)});
        emu::attachPeer(0, std::move(peer));
        midiPort.replyCount.store(0);
    }

    static size_t probesSent() {
        size_t probes = 0;
        for (const auto& m : emu::sentMessages()) probes += m.bytes.size() == 9 ? 1 : 0;
        return probes;
    }
};

TEST_F(ProtocolStagesTest, ReplyAlreadyWaitingAnswersTheFirstProbe) {
    emu::SimOptions options;
    options.script.answersProbeA = options.script.answersProbeB = false;
    start(makeRecord({1}), options);
    midiPort.replyCode.store(0x33);
    midiPort.replyCount.store(3);
    EXPECT_EQ(handshake(kIdentityCode), StageResult::kContinue);
    EXPECT_EQ(probesSent(), 1u);
    EXPECT_EQ(replyCountNow(), 0);
}

TEST_F(ProtocolStagesTest, CountOfOneIsNoReplyAndIsLeftAlone) {
    emu::SimOptions options;
    options.script.answersProbeA = options.script.answersProbeB = false;
    start(makeRecord({1}), options);
    midiPort.replyCount.store(1);
    StdoutCapture capture;
    EXPECT_EQ(handshake(kIdentityCode), StageResult::kStop);
    EXPECT_EQ(capture.text(), kNotResponding);
    EXPECT_EQ(probesSent(), 19u);
    EXPECT_EQ(replyCountNow(), 1);
}

TEST_F(ProtocolStagesTest, HandshakeAttemptLastsAtLeastOneAndAHalfSeconds) {
    // 100 polls, and at least 100 x 15.625 ms of the clock: on Windows' default timer, both.
    for (const auto& [delayMs, probes] : {std::pair<int, size_t>{1550, 1}, {1580, 2}}) {
        emu::SimOptions options;
        options.delayMs = delayMs;
        start(makeRecord({1}), options);
        EXPECT_EQ(handshake(kIdentityCode), StageResult::kContinue) << delayMs;
        EXPECT_EQ(probesSent(), probes) << delayMs;
        closeMidiIn();
        closeMidiOut();
    }
}

TEST_F(ProtocolStagesTest, ReplyWaitingBeforeARecordIsNotItsVerdict) {
    emu::SimOptions options;
    options.script.replies[1].push_back(emu::ScriptedReply{emu::kNoAnswer, 1});
    const Bytes record = makeRecord({1, 2, 3});
    auto device = start(record, options);
    // An acknowledgement left over from before: taken, it would end the run with one send.
    midiPort.replyCode.store(0x1A);
    midiPort.replyCount.store(3);
    StdoutCapture capture;
    EXPECT_EQ(transferImage(stagedImage), StageResult::kStop);
    EXPECT_EQ(capture.text(), progress('-', 0) + progress('-', 0) + kDone);
    EXPECT_EQ(emu::sentMessages().size(), 2u);
    EXPECT_EQ(hexOf(device->flashed()), hexOf(record));
}

TEST_F(ProtocolStagesTest, SuccessfulRunFlashesExactlyTheImage) {
    Bytes image;
    for (int i = 0; i < 40; ++i) {
        image = concat({image, makeRecord(countingPayload(size_t(1 + i * 7), uint8_t(i)))});
    }
    auto device = start(image);
    StdoutCapture capture;
    ASSERT_EQ(handshake(kIdentityCode), StageResult::kContinue);
    EXPECT_EQ(transferImage(stagedImage), StageResult::kStop);
    EXPECT_NE(capture.text().find(kDone), std::string::npos);
    ASSERT_TRUE(emu::waitForInputDelivered());
    EXPECT_EQ(hexOf(device->flashed()), hexOf(image));
    // Everything between F0 and F7 of a record chunk is an upper-case hex digit.
    for (const auto& m : emu::sentMessages()) {
        if (m.bytes.size() == 9) continue;  // the probe
        for (size_t i = 1; i + 1 < m.bytes.size(); ++i) {
            const uint8_t c = m.bytes[i];
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << int(c);
        }
    }
}

TEST_F(ProtocolStagesTest, EveryHexChunkIsFollowedByAPause) {
    // A record of 70 bytes goes out as chunks of 23, 23, 23 and 1 bytes; the device takes each
    // one as it plays out, its last byte on the link. Sending is paced: at least 1 ms of the clock
    // between two chunks, and on a link with a speed each message's own time on it as well.
    struct Link {
        const char* name;
        long bytesPerSecond;
        bool blocking;
    };
    const std::vector<Link> links = {{"fast", 0, false},
                                     {"100 bytes a second, midiOutLongMsg blocking", 100, true},
                                     {"100 bytes a second, the header left playing", 100, false}};
    const Bytes record = makeRecord(countingPayload(66));
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (const Link& link : links) {
        auto device = std::make_shared<emu::BrevantoDevice>();
        auto heardAt = std::make_shared<std::vector<LONGLONG>>();
        emu::OutDeviceConfig out{"Brevanto MIDI"};
        out.bytesPerSecond = link.bytesPerSecond;
        out.blocking = link.blocking;
        startWithPeer(
            record,
            [device, heardAt](const emu::Bytes& message) {
                LARGE_INTEGER now;
                QueryPerformanceCounter(&now);
                heardAt->push_back(now.QuadPart);
                if (auto reply = device->receive(message)) emu::sendInput(0, *reply);
            },
            out);
        StdoutCapture quiet;
        ASSERT_EQ(openMidiPorts(PortChoice{}), StageResult::kContinue) << link.name;
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        ASSERT_EQ(handshake(kIdentityCode), StageResult::kContinue) << link.name;
        ASSERT_EQ(transferImage(stagedImage), StageResult::kStop) << link.name;
        const auto sent = emu::sentMessages();
        ASSERT_EQ(heardAt->size(), 5u) << link.name;  // the probe and four chunks
        ASSERT_EQ(sent.size(), 5u) << link.name;
        const auto onTheLink = [&](size_t i) {
            return link.bytesPerSecond == 0
                       ? 0
                       : LONGLONG(sent[i].bytes.size()) * frequency.QuadPart / link.bytesPerSecond;
        };
        EXPECT_GE((*heardAt)[0] - start.QuadPart, onTheLink(0)) << link.name;
        for (size_t i = 2; i < heardAt->size(); ++i) {
            EXPECT_GE((*heardAt)[i] - (*heardAt)[i - 1], frequency.QuadPart / 1000 + onTheLink(i))
                << link.name << " " << i;
        }
        EXPECT_EQ(hexOf(device->flashed()), hexOf(record)) << link.name;
        closeMidiIn();
        closeMidiOut();
    }
}

TEST_F(ProtocolStagesTest, DeviceAnsweringTwiceIsStoppedBeforeTheNextRecord) {
    // A device that answers every record twice: one send cannot have two verdicts, so the run
    // ends before anything more is sent.
    auto device = std::make_shared<emu::BrevantoDevice>();
    startWithPeer(concat({makeRecord({1}), makeRecord({2}), makeRecord({3})}),
                  [device](const emu::Bytes& message) {
                      const bool record = message.size() != 9;
                      if (auto reply = device->receive(message)) {
                          emu::sendInput(0, *reply);
                          if (record) emu::sendInput(0, *reply);
                      }
                  });
    StdoutCapture capture;
    ASSERT_EQ(openMidiPorts(PortChoice{}), StageResult::kContinue);
    ASSERT_EQ(handshake(kIdentityCode), StageResult::kContinue);
    EXPECT_EQ(transferImage(stagedImage), StageResult::kStop);
    EXPECT_EQ(capture.text(), kPortIn + kPortOut + progress('-', 0) + kUpdateError);
    EXPECT_EQ(emu::sentMessages().size(), 2u);  // the probe and record 1
}

}  // namespace
