#include "emu/emulated_setup.h"

#include <mutex>

#include "emu/device_place.h"

namespace emu {

std::shared_ptr<BrevantoDevice> setUpEmulation(const SimOptions& options) {
    const DevicePlace place = devicePlace(options);

    std::vector<InDeviceConfig> in;
    for (const auto& name : options.inPorts) in.push_back(InDeviceConfig{name});
    std::vector<OutDeviceConfig> out;
    for (const auto& name : options.outPorts) {
        OutDeviceConfig config{name};
        config.playTime = std::chrono::milliseconds(options.busyMs);
        config.bytesPerSecond = options.linkRate;
        config.blocking = options.driverSync;
        out.push_back(config);
    }
    if (place.out >= 0) out[static_cast<size_t>(place.out)].acceptLimit = options.unplugAfter;
    reset(in, out);
    if (place.out < 0) return nullptr;

    auto device = std::make_shared<BrevantoDevice>(options.script);
    const bool answers = place.in >= 0;
    const unsigned inIndex = static_cast<unsigned>(place.in);
    auto lock = std::make_shared<std::mutex>();
    auto link = std::make_shared<NoisyLink>(options.noise);
    attachPeer(static_cast<unsigned>(place.out), [device, link, lock, answers, inIndex,
                                                  options](const Bytes& message) {
        std::lock_guard<std::mutex> guard(*lock);
        auto reply = device->receive(message);
        const auto replyDelay = std::chrono::milliseconds(replyDelayMs(*device, options));
        const auto extra = link->afterMessage(reply, int(replyDelay.count()));
        if (!answers) return;
        if (reply) sendInput(inIndex, *reply, replyDelay);
        for (const auto& input : extra) {
            sendInput(inIndex, input.bytes, std::chrono::milliseconds(input.delayMs));
        }
    });
    return device;
}

}  // namespace emu
