#include "midi/midi_in.h"

#include <cstring>

#include "common/console_text.h"
#include "midi/device_name_filter.h"
#include "midi/midi_port.h"
#include "platform/midi_device_list.h"

namespace {

constexpr DWORD_PTR kNoInstanceData = 0;
constexpr unsigned kTallyCodeBits = 8;

// Counts one more reply and keeps its code beside the count. Only the callback thread writes the
// tally; the exchange loop keeps it whole even if a service ever called back from two threads.
void addToTally(uint8_t code) {
    uint32_t tally = midiPort.replyTally.load();
    uint32_t next;
    do {
        next = (((tally >> kTallyCodeBits) + 1) << kTallyCodeBits) | code;
    } while (!midiPort.replyTally.compare_exchange_weak(tally, next));
}

// Points the input header at the reply buffer, queues it and starts input. The prepare and queue
// results are not examined: a buffer that was not queued only means no reply ever arrives, which
// the handshake reports as a silent device.
MMRESULT armReception() {
    MIDIHDR& header = midiPort.inputHeader;
    std::memset(&header, 0, sizeof header);
    header.lpData = midiPort.replyBuffer;
    header.dwBufferLength = kReplyBufferSize;
    header.dwBytesRecorded = 0;
    header.dwFlags = 0;
    midiInPrepareHeader(midiPort.inHandle, &header, sizeof header);
    midiInAddBuffer(midiPort.inHandle, &header, sizeof header);
    midiPort.inOpen.store(1);
    return midiInStart(midiPort.inHandle);
}

// Opens input device index, prints its line and arms reception; systemDevice tells whether its
// name is one the search skips. An open that fails leaves the port closed.
MMRESULT openInputDevice(UINT index, bool& systemDevice) {
    MMRESULT result =
        midiInOpen(&midiPort.inHandle, index, reinterpret_cast<DWORD_PTR>(&onMidiInput),
                   kNoInstanceData, CALLBACK_FUNCTION);
    if (result != MMSYSERR_NOERROR) {
        // Also the way the search ends after the last device.
        midiPort.inOpen.store(0);
        return result;
    }
    MIDIINCAPSA caps;
    std::memset(&caps, 0, sizeof caps);
    // A device whose caps cannot be read has an empty name, which the filter lets through.
    midiInGetDevCapsA(index, &caps, sizeof caps);
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    printText(ConsoleText::kMidiInDevice);

    result = armReception();
    systemDevice = isSystemMidiDevice(caps.szPname);
    return result;
}

}  // namespace

MMRESULT openMidiIn(UINT startIndex) {
    for (UINT index = startIndex;; ++index) {
        bool systemDevice = false;
        const MMRESULT result = openInputDevice(index, systemDevice);
        if (result != MMSYSERR_NOERROR || !systemDevice) {
            return result;
        }
        closeMidiIn();
    }
}

MMRESULT openChosenMidiIn(UINT index, const char* name) {
    // The list may have changed since the user's choice was made from it: a device that is no
    // longer the one chosen is taken as missing, never opened in its place.
    MidiDeviceListing now;
    if (!midiInDeviceListing(index, now) || std::strcmp(now.name, name) != 0) {
        midiPort.inOpen.store(0);
        return MMSYSERR_BADDEVICEID;
    }
    bool systemDevice = false;
    return openInputDevice(index, systemDevice);
}

int closeMidiIn() {
    if (midiPort.inOpen.load() == 0) {
        return 0;
    }
    // Cleared first, so that a callback still under way does not queue the buffer again.
    midiPort.inOpen.store(0);
    // The service refuses to close an input device while a buffer is queued: take it back first.
    // None of these results changes what is left to do, so none is examined.
    midiInReset(midiPort.inHandle);
    midiInUnprepareHeader(midiPort.inHandle, &midiPort.inputHeader, sizeof midiPort.inputHeader);
    midiInClose(midiPort.inHandle);
    return 1;
}

void CALLBACK onMidiInput(HMIDIIN /*handle*/, UINT message, DWORD_PTR /*instance*/,
                          DWORD_PTR param1, DWORD_PTR /*param2*/) {
    // Short messages, open/close and error notices carry no reply. An input buffer handed back
    // with an error notice is not queued again, so no later reply reaches the slot.
    if (message != MIM_LONGDATA) {
        return;
    }
    MIDIHDR* header = reinterpret_cast<MIDIHDR*>(param1);
    const uint8_t code = static_cast<uint8_t>(midiPort.replyBuffer[1]);
    const int16_t count = static_cast<int16_t>(static_cast<uint16_t>(header->dwBytesRecorded));
    // The tally first, the count last: the main thread takes a count for a reply that has
    // arrived and then reads the tally, which must already hold that reply. An empty buffer
    // handed back by a reset, or a lone byte, is no reply.
    if (count > 1) {
        addToTally(code);
    }
    midiPort.replyCode.store(code);
    midiPort.replyCount.store(count);

    // Re-arm at once, from inside the callback, so that the next System Exclusive message lands in
    // the same buffer. The platform warns against calling the MIDI service from its callback
    // because some calls (close, reset) wait for the callback thread and would deadlock; prepare,
    // unprepare and add do not wait for it, and re-queuing later from the main thread would leave
    // a window in which a reply finds no buffer and is lost. The buffer a close hands back with a
    // reset comes here with in open already cleared, so it is never queued again.
    if (midiPort.inOpen.load() == 1) {
        midiInUnprepareHeader(midiPort.inHandle, header, sizeof *header);
        midiInPrepareHeader(midiPort.inHandle, header, sizeof *header);
        midiInAddBuffer(midiPort.inHandle, header, sizeof *header);
    }
}

int16_t replyCountNow() {
    return midiPort.replyCount.load();
}

uint8_t takeReplyCode() {
    midiPort.replyCount.store(0);
    return midiPort.replyCode.load();
}

int16_t discardReply() {
    return midiPort.replyCount.exchange(0);
}

ReplyTally replyTallyNow() {
    const uint32_t tally = midiPort.replyTally.load();
    return ReplyTally{tally >> kTallyCodeBits, static_cast<uint8_t>(tally)};
}
