// The reply slot as the callback thread fills it: these tests run the service's delivery thread
// against the main thread, and also run under ThreadSanitizer.
#include <string>
#include <vector>

#include "midi/midi_in.h"
#include "midi/midi_port.h"
#include "tests/midi/midi_fixture.h"
#include "tests/support/stdout_capture.h"

namespace {

class ReplySlotTest : public MidiLinkTest {
  protected:
    void SetUp() override {
        reset(inNames({"Brevanto MIDI"}), {});
        StdoutCapture quiet;
        ASSERT_EQ(openMidiIn(0), MMSYSERR_NOERROR);
    }
    static void deliver(emu::Bytes bytes) {
        emu::sendInput(0, std::move(bytes));
        ASSERT_TRUE(emu::waitForInputDelivered());
    }
};

TEST_F(ReplySlotTest, SysExReplyLandsWithCountAndCode) {
    deliver({0xF0, 0x1A, 0xF7});
    EXPECT_EQ(replyCountNow(), 3);
    EXPECT_EQ(takeReplyCode(), 0x1A);
    EXPECT_EQ(replyCountNow(), 0);
    EXPECT_EQ(std::string(midiPort.replyBuffer, 3), std::string("\xF0\x1A\xF7", 3));

    // The buffer was queued again: the next reply lands too and replaces the first.
    deliver({0xF0, 0x33, 0x01, 0x02, 0xF7});
    EXPECT_EQ(replyCountNow(), 5);
    EXPECT_EQ(takeReplyCode(), 0x33);
    EXPECT_EQ(emu::queuedInputBuffers(0), 1u);
}

TEST_F(ReplySlotTest, ShortMessagesNeverChangeTheSlot) {
    deliver({0x90, 0x3C, 0x7F});  // note on
    deliver({0xB0, 0x07, 0x64});  // controller
    deliver({0xF8});              // clock
    EXPECT_EQ(emu::notices(0, MIM_DATA), 3u);
    EXPECT_EQ(replyCountNow(), 0);
    deliver({0xF0, 0x20, 0xF7});
    EXPECT_EQ(takeReplyCode(), 0x20);
}

TEST_F(ReplySlotTest, CountStaysUntilTaken) {
    deliver({0xF0, 0x1A, 0xF7});
    EXPECT_EQ(replyCountNow(), 3);
    EXPECT_EQ(replyCountNow(), 3);
    EXPECT_EQ(midiPort.replyCode.load(), 0x1A);
}

TEST_F(ReplySlotTest, MessageLongerThanTheBufferContinuesInTheNextOne) {
    emu::Bytes longReply(250, 0x11);
    longReply.front() = 0xF0;
    longReply[1] = 0x24;
    longReply.back() = 0xF7;
    deliver(longReply);
    // The first 200 bytes filled the buffer; it was queued again and took the last 50.
    EXPECT_EQ(emu::notices(0, MIM_LONGDATA), 2u);
    EXPECT_EQ(replyCountNow(), 50);
}

TEST_F(ReplySlotTest, ErrorNoticeEndsReceptionForTheRun) {
    emu::sendInputError(0, {0xF0, 0x1A});
    ASSERT_TRUE(emu::waitForInputDelivered());
    EXPECT_EQ(emu::notices(0, MIM_LONGERROR), 1u);
    EXPECT_EQ(emu::queuedInputBuffers(0), 0u);
    deliver({0xF0, 0x1A, 0xF7});
    EXPECT_EQ(replyCountNow(), 0);
    EXPECT_EQ(emu::queuedInputBuffers(0), 0u);
}

TEST_F(ReplySlotTest, CloseTwiceThenLateInputQueuesNothing) {
    EXPECT_EQ(closeMidiIn(), 1);
    EXPECT_EQ(closeMidiIn(), 0);
    EXPECT_FALSE(emu::inDeviceOpen(0));
    EXPECT_EQ(emu::queuedInputBuffers(0), 0u);
    // The buffer came back empty through the callback, which did not queue it again.
    EXPECT_EQ(emu::notices(0, MIM_LONGDATA), 1u);
    EXPECT_EQ(replyCountNow(), 0);
    deliver({0xF0, 0x1A, 0xF7});
    EXPECT_EQ(replyCountNow(), 0);
}

TEST_F(ReplySlotTest, CloseWhileRepliesArriveLeavesNothingQueued) {
    // Replies keep arriving on the service's thread while the main thread closes the port.
    for (int i = 0; i < 200; ++i) emu::sendInput(0, {0xF0, 0x1A, 0xF7});
    EXPECT_EQ(closeMidiIn(), 1);
    ASSERT_TRUE(emu::waitForInputDelivered());
    EXPECT_FALSE(emu::inDeviceOpen(0));
    EXPECT_EQ(emu::queuedInputBuffers(0), 0u);
}

TEST_F(ReplySlotTest, ReplyCodeNeverTearsAcrossReplies) {
    // Many replies of alternating codes: whatever count the main thread sees, the code it reads
    // belongs to one of them; and the tally counts every one, however many land between polls.
    const uint32_t before = replyTallyNow().received;
    for (int i = 0; i < 500; ++i) {
        emu::sendInput(0, {0xF0, static_cast<uint8_t>(i % 2 ? 0x1A : 0x20), 0xF7});
    }
    int taken = 0;
    for (int polls = 0; polls < 20000 && taken < 50; ++polls) {
        if (replyCountNow() > 1) {
            const uint8_t code = takeReplyCode();
            EXPECT_TRUE(code == 0x1A || code == 0x20) << int(code);
            ++taken;
        }
    }
    ASSERT_TRUE(emu::waitForInputDelivered());
    const ReplyTally tally = replyTallyNow();
    EXPECT_EQ(repliesBetween(before, tally.received), 500u);
    EXPECT_EQ(tally.lastCode, 0x1A);
}

}  // namespace
