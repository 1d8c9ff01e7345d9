// An open In device: buffers queued by the program, filled by whole messages in order, handed
// back on reset; input only after start; close refused while a buffer is queued.
#include "platform/winmm_face/input_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using winmm_face::InputDevice;
using Bytes = std::vector<uint8_t>;

struct Notice {
    UINT message;
    MIDIHDR* header;  // for MIM_LONGDATA
    Bytes bytes;      // the header's recorded bytes, or the packed short message
    DWORD flags;
};

struct Recorder {
    std::vector<Notice> notices;
};

void CALLBACK record(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    Recorder* recorder = reinterpret_cast<Recorder*>(instance);
    Notice notice{message, nullptr, {}, 0};
    if (message == MIM_LONGDATA) {
        notice.header = reinterpret_cast<MIDIHDR*>(param1);
        notice.bytes.assign(notice.header->lpData,
                            notice.header->lpData + notice.header->dwBytesRecorded);
        notice.flags = notice.header->dwFlags;
    } else if (message == MIM_DATA) {
        for (int i = 0; i < 3; ++i) notice.bytes.push_back(static_cast<uint8_t>(param1 >> (8 * i)));
    }
    recorder->notices.push_back(notice);
}

struct Buffer {
    explicit Buffer(DWORD size) : data(size, '\0') {
        std::memset(&header, 0, sizeof header);
        header.lpData = data.data();
        header.dwBufferLength = size;
    }
    std::string data;
    MIDIHDR header;
};

struct InputDeviceTest : ::testing::Test {
    Recorder recorder;
    InputDevice device{0, record, reinterpret_cast<DWORD_PTR>(&recorder)};

    MMRESULT queue(Buffer& buffer) {
        const MMRESULT prepared = device.prepareHeader(&buffer.header, sizeof buffer.header);
        return prepared != MMSYSERR_NOERROR
                   ? prepared
                   : device.addBuffer(&buffer.header, sizeof buffer.header);
    }
    void deliver(const Bytes& message, bool damaged = false) {
        device.deliver(message.data(), message.size(), damaged);
    }
};

const Bytes kReply = {0xF0, 0x33, 0x01, 0xF7};

TEST_F(InputDeviceTest, SysExFillsTheQueuedBufferAfterStart) {
    Buffer buffer(200);
    ASSERT_EQ(queue(buffer), MMSYSERR_NOERROR);
    EXPECT_EQ(buffer.header.dwFlags, MHDR_PREPARED | MHDR_INQUEUE);
    deliver(kReply);  // not started yet: dropped
    EXPECT_TRUE(recorder.notices.empty());

    ASSERT_EQ(device.start(), MMSYSERR_NOERROR);
    deliver(kReply);
    ASSERT_EQ(recorder.notices.size(), 1u);
    EXPECT_EQ(recorder.notices[0].message, MIM_LONGDATA);
    EXPECT_EQ(recorder.notices[0].header, &buffer.header);
    EXPECT_EQ(recorder.notices[0].bytes, kReply);
    EXPECT_EQ(recorder.notices[0].flags, MHDR_PREPARED | MHDR_DONE);
    EXPECT_EQ(buffer.header.dwBytesRecorded, kReply.size());

    // Handed back: the next message finds no buffer and is lost.
    deliver({0xF0, 0x1A, 0xF7});
    EXPECT_EQ(recorder.notices.size(), 1u);
}

TEST_F(InputDeviceTest, ResetHoldsInputBackUntilStartedAgain) {
    Buffer buffer(200);
    device.start();
    ASSERT_EQ(device.reset(), MMSYSERR_NOERROR);
    ASSERT_EQ(queue(buffer), MMSYSERR_NOERROR);
    deliver(kReply);
    EXPECT_TRUE(recorder.notices.empty());
    device.start();
    deliver(kReply);
    EXPECT_EQ(recorder.notices.size(), 1u);
}

TEST_F(InputDeviceTest, LongMessageSpillsIntoTheNextBuffersAndTheRestIsLost) {
    struct SpillCase {
        const char* name;
        std::vector<DWORD> buffers;
        size_t messageBytes;
        std::vector<size_t> recorded;  // per handed-back buffer, in order
    };
    const std::vector<SpillCase> cases = {
        {"fits", {8}, 8, {8}},
        {"one byte too many, no second buffer", {8}, 9, {8}},
        {"spills into the second", {8, 8}, 12, {8, 4}},
        {"fills both exactly", {4, 4}, 8, {4, 4}},
        {"fills all, rest lost", {4, 4, 4}, 20, {4, 4, 4}},
        {"short message leaves the second queued", {16, 16}, 5, {5}},
    };
    for (const auto& c : cases) {
        Recorder rec;
        InputDevice dev(0, record, reinterpret_cast<DWORD_PTR>(&rec));
        std::vector<std::unique_ptr<Buffer>> buffers;
        for (DWORD size : c.buffers) {
            buffers.push_back(std::make_unique<Buffer>(size));
            dev.prepareHeader(&buffers.back()->header, sizeof(MIDIHDR));
            ASSERT_EQ(dev.addBuffer(&buffers.back()->header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        }
        dev.start();
        Bytes message(c.messageBytes);
        message[0] = 0xF0;
        for (size_t i = 1; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i);
        dev.deliver(message.data(), message.size(), false);

        ASSERT_EQ(rec.notices.size(), c.recorded.size()) << c.name;
        size_t offset = 0;
        for (size_t i = 0; i < c.recorded.size(); ++i) {
            EXPECT_EQ(rec.notices[i].header, &buffers[i]->header) << c.name << " buffer " << i;
            EXPECT_EQ(rec.notices[i].bytes,
                      Bytes(message.begin() + static_cast<long>(offset),
                            message.begin() + static_cast<long>(offset + c.recorded[i])))
                << c.name << " buffer " << i;
            offset += c.recorded[i];
        }
    }
}

TEST_F(InputDeviceTest, ShortMessagesArePacked) {
    Buffer buffer(200);
    queue(buffer);
    device.start();
    deliver({0x90, 0x3C, 0x7F});
    deliver({0xC1, 0x05});
    deliver({0x90, 0x3C}, true);  // a broken short message is an error notice
    ASSERT_EQ(recorder.notices.size(), 3u);
    EXPECT_EQ(recorder.notices[0].message, MIM_DATA);
    EXPECT_EQ(recorder.notices[0].bytes, (Bytes{0x90, 0x3C, 0x7F}));
    EXPECT_EQ(recorder.notices[1].bytes, (Bytes{0xC1, 0x05, 0x00}));
    EXPECT_EQ(recorder.notices[2].message, MIM_ERROR);
    // The SysEx buffer stays queued for a SysEx.
    EXPECT_EQ(buffer.header.dwFlags & MHDR_INQUEUE, MHDR_INQUEUE);
}

TEST_F(InputDeviceTest, ResetHandsBackEveryQueuedBufferEmpty) {
    Buffer first(200);
    Buffer second(200);
    queue(first);
    queue(second);
    device.start();
    EXPECT_EQ(device.beginClose(), MIDIERR_STILLPLAYING);
    EXPECT_EQ(device.unprepareHeader(&first.header, sizeof first.header), MIDIERR_STILLPLAYING);

    ASSERT_EQ(device.reset(), MMSYSERR_NOERROR);
    ASSERT_EQ(recorder.notices.size(), 2u);
    EXPECT_EQ(recorder.notices[0].header, &first.header);
    EXPECT_EQ(recorder.notices[1].header, &second.header);
    for (const Notice& notice : recorder.notices) {
        EXPECT_EQ(notice.message, MIM_LONGDATA);
        EXPECT_TRUE(notice.bytes.empty());
        EXPECT_EQ(notice.flags, MHDR_PREPARED | MHDR_DONE);
    }
    // Reset also stops input.
    queue(first);
    deliver(kReply);
    EXPECT_EQ(recorder.notices.size(), 2u);
    device.reset();

    EXPECT_EQ(device.unprepareHeader(&first.header, sizeof first.header), MMSYSERR_NOERROR);
    EXPECT_EQ(first.header.dwFlags & MHDR_PREPARED, 0u);
    EXPECT_EQ(device.beginClose(), MMSYSERR_NOERROR);
    EXPECT_EQ(device.beginClose(), MMSYSERR_INVALHANDLE);
}

TEST_F(InputDeviceTest, ClosedDeviceTakesNothingMore) {
    Buffer buffer(200);
    device.start();
    ASSERT_EQ(device.beginClose(), MMSYSERR_NOERROR);
    device.prepareHeader(&buffer.header, sizeof buffer.header);
    EXPECT_EQ(device.addBuffer(&buffer.header, sizeof buffer.header), MMSYSERR_INVALHANDLE);
    deliver(kReply);
    EXPECT_TRUE(recorder.notices.empty());
}

TEST_F(InputDeviceTest, HeaderRules) {
    Buffer buffer(200);
    EXPECT_EQ(device.addBuffer(&buffer.header, sizeof buffer.header), MIDIERR_UNPREPARED);
    EXPECT_EQ(device.prepareHeader(nullptr, sizeof buffer.header), MMSYSERR_INVALPARAM);

    ASSERT_EQ(queue(buffer), MMSYSERR_NOERROR);
    EXPECT_EQ(device.addBuffer(&buffer.header, sizeof buffer.header), MIDIERR_STILLPLAYING);
    // Unpreparing a header that is not prepared is harmless.
    Buffer other(10);
    EXPECT_EQ(device.unprepareHeader(&other.header, sizeof other.header), MMSYSERR_NOERROR);
}

TEST(InputDeviceWithoutCallback, DropsNoticesQuietly) {
    InputDevice device(0, nullptr, 0);
    Buffer buffer(16);
    device.prepareHeader(&buffer.header, sizeof buffer.header);
    device.addBuffer(&buffer.header, sizeof buffer.header);
    device.start();
    device.deliver(kReply.data(), kReply.size(), false);
    EXPECT_EQ(buffer.header.dwBytesRecorded, kReply.size());
    EXPECT_EQ(buffer.header.dwFlags, MHDR_PREPARED | MHDR_DONE);
}

}  // namespace
