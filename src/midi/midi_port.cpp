#include "midi/midi_port.h"

MidiPort midiPort;

int16_t replyCountNow() {
    return midiPort.replyCount.load();
}

uint8_t takeReplyCode() {
    midiPort.replyCount.store(0);
    return midiPort.replyCode.load();
}
