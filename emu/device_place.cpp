#include "emu/device_place.h"

#include <algorithm>

namespace emu {

namespace {

int indexOf(const std::vector<std::string>& names, const std::string& name) {
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

}  // namespace

DevicePlace devicePlace(const SimOptions& options) {
    if (options.devicePort == "none") return DevicePlace{};
    return DevicePlace{indexOf(options.outPorts, options.devicePort),
                       indexOf(options.inPorts, options.devicePort)};
}

int replyDelayMs(const BrevantoDevice& device, const SimOptions& options) {
    const auto late = device.lateMs();
    return late ? int(*late) : int(options.delayMs);
}

}  // namespace emu
