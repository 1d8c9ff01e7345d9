// A port system with no ports, for systems where no real one is linked: the face then opens no
// device, and the first open says why, once, on standard error.
#include "platform/program_name.h"
#include "platform/winmm_face/port_system.h"

namespace {

class NoPortSystem : public winmm_face::PortSystem {
  public:
    std::vector<winmm_face::PortInfo> inputPorts() override { return {}; }
    std::vector<winmm_face::PortInfo> outputPorts() override { return {}; }
    // Never asked: there is no listed port to open.
    MMRESULT openInput(const winmm_face::PortInfo&, winmm_face::MessageSink,
                       std::unique_ptr<winmm_face::InputPortLink>&) override {
        return MMSYSERR_BADDEVICEID;
    }
    MMRESULT openOutput(const winmm_face::PortInfo&,
                        std::unique_ptr<winmm_face::OutputPortLink>&) override {
        return MMSYSERR_BADDEVICEID;
    }

    // The run ends without a device whatever is attached.
    void reportNoDevice() override {
        if (said_) return;
        said_ = true;
        printError(
            "built without a MIDI library, so no MIDI device can be reached: install "
            "librtmidi-dev and libasound2-dev, then configure and build again");
    }

  private:
    bool said_ = false;
};

}  // namespace

winmm_face::PortSystem& winmm_face::portSystem() {
    static NoPortSystem system;
    return system;
}
