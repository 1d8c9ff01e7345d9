#include "emu/emulated_setup.h"

#include <algorithm>
#include <mutex>

namespace emu {

std::shared_ptr<BrevantoDevice> setUpEmulation(const SimOptions& options) {
    const bool attached = options.devicePort != "none";
    const auto inIt = std::find(options.inPorts.begin(), options.inPorts.end(), options.devicePort);
    const auto outIt =
        std::find(options.outPorts.begin(), options.outPorts.end(), options.devicePort);

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
    if (attached && outIt != options.outPorts.end()) {
        out[static_cast<size_t>(outIt - options.outPorts.begin())].acceptLimit =
            options.unplugAfter;
    }
    reset(in, out);
    if (!attached || outIt == options.outPorts.end()) return nullptr;

    auto device = std::make_shared<BrevantoDevice>(options.script);
    const bool answers = inIt != options.inPorts.end();
    const unsigned inIndex = static_cast<unsigned>(inIt - options.inPorts.begin());
    const auto delay = std::chrono::milliseconds(options.delayMs);
    auto lock = std::make_shared<std::mutex>();
    auto link = std::make_shared<NoisyLink>(options.noise);
    attachPeer(static_cast<unsigned>(outIt - options.outPorts.begin()),
               [device, link, lock, answers, inIndex, delay](const Bytes& message) {
                   std::lock_guard<std::mutex> guard(*lock);
                   auto reply = device->receive(message);
                   const auto late = device->lateMs();
                   const auto replyDelay = late ? std::chrono::milliseconds(*late) : delay;
                   const auto extra = link->afterMessage(reply, int(replyDelay.count()));
                   if (!answers) return;
                   if (reply) sendInput(inIndex, *reply, replyDelay);
                   for (const auto& input : extra) {
                       sendInput(inIndex, input.bytes, std::chrono::milliseconds(input.delayMs));
                   }
               });
    return device;
}

std::string wireLogText(const std::vector<SentMessage>& messages) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const auto& message : messages) {
        for (size_t i = 0; i < message.bytes.size(); ++i) {
            if (i > 0) text += ' ';
            text += kDigits[message.bytes[i] >> 4];
            text += kDigits[message.bytes[i] & 0x0F];
        }
        text += '\n';
    }
    return text;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace emu
