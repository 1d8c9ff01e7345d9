#include "platform/alsa/raw_midi_output_link.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <time.h>

#include "platform/alsa/sequencer_open.h"
#include "platform/alsa/play_out.h"

namespace alsa {

namespace {

// One descriptor for a hardware port; room for more costs nothing.
constexpr int kMaxDescriptors = 4;
// A byte lasts 320 us on a MIDI cable.
constexpr uint64_t kLastByteStepMicroseconds = 100;

uint64_t monotonicMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

class RawMidiOutputLink : public winmm_face::OutputPortLink {
  public:
    RawMidiOutputLink(snd_rawmidi_t* out, size_t bufferBytes)
        : out_(out), bufferBytes_(bufferBytes) {
        port_.write = [this](const uint8_t* bytes, size_t count) {
            return static_cast<long>(snd_rawmidi_write(out_, bytes, count));
        };
        port_.waiting = [this] { return waiting(); };
        port_.waitForEmpty = [this](long waiting, uint64_t timeout) {
            waitForEmpty(waiting, timeout);
        };
        port_.nowMicroseconds = monotonicMicroseconds;
    }
    ~RawMidiOutputLink() override { snd_rawmidi_close(out_); }

    MMRESULT send(const uint8_t* bytes, size_t count, winmm_face::SendDone done) override {
        if (count == 0) return MIDIERR_NOTREADY;
        if (playOut(port_, bytes, count) != 0) {
            // What is left would reach the device late or cut short: it goes nowhere.
            snd_rawmidi_drop(out_);
            return MIDIERR_NOTREADY;
        }
        done();
        return MMSYSERR_NOERROR;
    }

    void cutOff() override { snd_rawmidi_drop(out_); }

  private:
    long waiting() {
        snd_rawmidi_status_t* status = nullptr;
        snd_rawmidi_status_alloca(&status);
        const int error = snd_rawmidi_status(out_, status);
        if (error < 0) return error;
        return static_cast<long>(bufferBytes_ - snd_rawmidi_status_get_avail(status));
    }

    // The port wakes a writer once its buffer is free but for one byte at most (set at opening;
    // alsa-lib allows no more); that byte is waited for in short steps.
    void waitForEmpty(long left, uint64_t timeoutMicroseconds) {
        if (left <= 1) {
            const uint64_t step = timeoutMicroseconds < kLastByteStepMicroseconds
                                      ? timeoutMicroseconds
                                      : kLastByteStepMicroseconds;
            const timespec pause{0, static_cast<long>(step * 1000)};
            nanosleep(&pause, nullptr);
            return;
        }
        pollfd descriptors[kMaxDescriptors];
        const int count = snd_rawmidi_poll_descriptors(out_, descriptors, kMaxDescriptors);
        const int timeoutMs = static_cast<int>((timeoutMicroseconds + 999) / 1000);
        if (count > 0) poll(descriptors, static_cast<nfds_t>(count), timeoutMs);
    }

    snd_rawmidi_t* out_;
    size_t bufferBytes_;
    RawOutput port_;
};

}  // namespace

std::unique_ptr<winmm_face::OutputPortLink> openRawMidiOutput(const std::string& device,
                                                              int& error) {
    silenceAlsaErrors();
    snd_rawmidi_t* out = nullptr;
    error = snd_rawmidi_open(nullptr, &out, device.c_str(), SND_RAWMIDI_NONBLOCK);
    if (error < 0) return nullptr;
    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca(&params);
    error = snd_rawmidi_params_current(out, params);
    const size_t bufferBytes = error < 0 ? 0 : snd_rawmidi_params_get_buffer_size(params);
    // alsa-lib takes at most one byte short of the whole buffer (it asserts, and the program
    // aborts, on more): the last byte's time is waited for in short steps.
    if (error >= 0) error = snd_rawmidi_params_set_avail_min(out, params, bufferBytes - 1);
    // Nothing of our own on the cable when the port closes.
    if (error >= 0) error = snd_rawmidi_params_set_no_active_sensing(out, params, 1);
    if (error >= 0) error = snd_rawmidi_params(out, params);
    if (error < 0) {
        snd_rawmidi_close(out);
        return nullptr;
    }
    return std::make_unique<RawMidiOutputLink>(out, bufferBytes);
}

}  // namespace alsa
