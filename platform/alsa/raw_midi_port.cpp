#include "platform/alsa/raw_midi_port.h"

#include <alsa/asoundlib.h>

#include <cerrno>

#include "platform/alsa/sequencer_open.h"

namespace alsa {

namespace {

// The sequencer's bridge numbers a card's ports 32 to a raw MIDI device (256 ports over at most
// 8 devices), one port for each subdevice.
constexpr int kPortsPerRawMidiDevice = 32;

}  // namespace

bool rawMidiDeviceOf(int client, int port, std::string& device) {
    snd_seq_t* seq = nullptr;
    if (openSequencer(&seq, SND_SEQ_OPEN_OUTPUT) < 0) return false;
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_client_info_alloca(&clientInfo);
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_port_info_alloca(&portInfo);
    // A kernel client with a card behind it, and a port that stands for a MIDI connector (a
    // card's synthesizer ports are the card's too, but are no raw MIDI port).
    const bool cardPort = snd_seq_get_any_client_info(seq, client, clientInfo) == 0 &&
                          snd_seq_client_info_get_type(clientInfo) == SND_SEQ_KERNEL_CLIENT &&
                          snd_seq_get_any_port_info(seq, client, port, portInfo) == 0 &&
                          (snd_seq_port_info_get_type(portInfo) & SND_SEQ_PORT_TYPE_PORT) != 0;
    const int card = cardPort ? snd_seq_client_info_get_card(clientInfo) : -1;
    snd_seq_close(seq);
    if (card < 0) return false;
    device = "hw:" + std::to_string(card) + "," + std::to_string(port / kPortsPerRawMidiDevice) +
             "," + std::to_string(port % kPortsPerRawMidiDevice);
    return true;
}

std::string sequencerFallbackNote(const std::string& portName, const std::string& device,
                                  int openError) {
    std::string reason = snd_strerror(openError);
    if (openError == -EBUSY) reason += ": another program is using it";
    return "cannot open " + device + " (" + portName + ") for sending: " + reason +
           "; sending through the ALSA sequencer instead, which can cut long messages short on "
           "a MIDI cable";
}

}  // namespace alsa
