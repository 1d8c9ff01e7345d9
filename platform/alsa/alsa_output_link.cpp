#include "platform/alsa/alsa_output_link.h"

#include <alsa/asoundlib.h>

#include <string>

#include "platform/alsa/sequencer_open.h"
#include "platform/alsa/sequencer_ports.h"

namespace alsa {

namespace {

// The sequencer's own size for one SysEx event; longer messages go as several, which receivers
// join up again until the F7.
constexpr size_t kSysExEventBytes = 256;
constexpr size_t kEncoderBytes = 32;
constexpr uint8_t kSysExStart = 0xF0;

class AlsaOutputLink : public winmm_face::OutputPortLink {
  public:
    AlsaOutputLink(snd_seq_t* seq, unsigned char port, snd_midi_event_t* encoder)
        : seq_(seq), port_(port), encoder_(encoder) {}
    ~AlsaOutputLink() override {
        snd_midi_event_free(encoder_);
        // Closing the client removes its port and the subscription with it.
        snd_seq_close(seq_);
    }

    // The sequencer has taken the message whole when the output returns: it has played out.
    MMRESULT send(const uint8_t* bytes, size_t count, winmm_face::SendDone done) override {
        if (count == 0) return MIDIERR_NOTREADY;
        const bool sent =
            bytes[0] == kSysExStart ? sendSysEx(bytes, count) : sendEncoded(bytes, count);
        if (!sent) return MIDIERR_NOTREADY;
        done();
        return MMSYSERR_NOERROR;
    }

  private:
    bool output(snd_seq_event_t& event) {
        snd_seq_ev_set_source(&event, port_);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        return snd_seq_event_output_direct(seq_, &event) >= 0;
    }

    bool sendSysEx(const uint8_t* bytes, size_t count) {
        for (size_t offset = 0; offset < count; offset += kSysExEventBytes) {
            const size_t part =
                count - offset < kSysExEventBytes ? count - offset : kSysExEventBytes;
            snd_seq_event_t event;
            snd_seq_ev_clear(&event);
            snd_seq_ev_set_sysex(&event, static_cast<unsigned>(part),
                                 const_cast<uint8_t*>(bytes + offset));
            if (!output(event)) return false;
        }
        return true;
    }

    bool sendEncoded(const uint8_t* bytes, size_t count) {
        snd_midi_event_reset_encode(encoder_);
        size_t offset = 0;
        while (offset < count) {
            snd_seq_event_t event;
            snd_seq_ev_clear(&event);
            const long used = snd_midi_event_encode(encoder_, bytes + offset,
                                                    static_cast<long>(count - offset), &event);
            if (used <= 0) return false;
            offset += static_cast<size_t>(used);
            if (event.type == SND_SEQ_EVENT_NONE) return false;  // the bytes ended inside a message
            if (!output(event)) return false;
        }
        return true;
    }

    snd_seq_t* seq_;
    unsigned char port_;  // sequencer port numbers are 0 to 255
    snd_midi_event_t* encoder_;
};

}  // namespace

std::unique_ptr<winmm_face::OutputPortLink> openAlsaOutput(int client, int port) {
    snd_seq_t* seq = nullptr;
    if (openSequencer(&seq, SND_SEQ_OPEN_OUTPUT) < 0) return nullptr;
    snd_midi_event_t* encoder = nullptr;
    const std::string portName = std::string(kOwnClientName) + " Out";
    const int ownPort = snd_seq_create_simple_port(
        seq, portName.c_str(), SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (snd_seq_set_client_name(seq, kOwnClientName) < 0 || ownPort < 0 ||
        snd_seq_connect_to(seq, ownPort, client, port) < 0 ||
        snd_midi_event_new(kEncoderBytes, &encoder) < 0) {
        snd_seq_close(seq);
        return nullptr;
    }
    return std::make_unique<AlsaOutputLink>(seq, static_cast<unsigned char>(ownPort), encoder);
}

}  // namespace alsa
