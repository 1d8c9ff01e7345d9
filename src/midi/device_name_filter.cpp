#include "midi/device_name_filter.h"

#include "common/ascii_prefix.h"

namespace {

constexpr const char* kSystemDevicePrefix = "Microsoft";
constexpr size_t kSystemDevicePrefixLength = 9;

}  // namespace

bool isSystemMidiDevice(const char* productName) {
    return asciiPrefixMatches(productName, kSystemDevicePrefix, kSystemDevicePrefixLength);
}
