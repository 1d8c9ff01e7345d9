#include "midi/choose_midi_device.h"

#include <cstring>

#include "common/ascii_prefix.h"
#include "midi/device_name_filter.h"

namespace {

// Device numbers as a user types them: decimal digits only, few enough that no UINT overflows.
constexpr size_t kMaxIndexDigits = 9;

bool readIndex(const char* text, UINT& index) {
    const size_t length = std::strlen(text);
    if (length == 0 || length > kMaxIndexDigits) {
        return false;
    }
    UINT value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + static_cast<UINT>(text[i] - '0');
    }
    index = value;
    return true;
}

// The steps of a name's match, tried in this order until one matches any device.
enum class NameMatch { kExact, kExactAnyCase, kPrefixAnyCase, kNone };

bool matchesAt(NameMatch step, const char* deviceName, const char* wanted) {
    const size_t wantedLength = std::strlen(wanted);
    switch (step) {
        case NameMatch::kExact:
            return std::strcmp(deviceName, wanted) == 0;
        case NameMatch::kExactAnyCase:
            return std::strlen(deviceName) == wantedLength &&
                   asciiPrefixMatches(deviceName, wanted, wantedLength);
        case NameMatch::kPrefixAnyCase:
            return asciiPrefixMatches(deviceName, wanted, wantedLength);
        case NameMatch::kNone:
            break;
    }
    return false;
}

UINT countMatches(const MidiDeviceList& list, NameMatch step, const char* wanted, UINT& first) {
    UINT matches = 0;
    for (UINT i = list.count; i > 0; --i) {
        if (matchesAt(step, list.devices[i - 1].name, wanted)) {
            first = i - 1;
            ++matches;
        }
    }
    return matches;
}

// The first step at which wanted matches a device; kNone when it matches none.
NameMatch decidingStep(const MidiDeviceList& list, const char* wanted) {
    constexpr NameMatch kSteps[] = {NameMatch::kExact, NameMatch::kExactAnyCase,
                                    NameMatch::kPrefixAnyCase};
    for (NameMatch step : kSteps) {
        UINT first = 0;
        if (countMatches(list, step, wanted, first) > 0) {
            return step;
        }
    }
    return NameMatch::kNone;
}

}  // namespace

void listMidiDevices(MidiDirection direction, MidiDeviceList& list) {
    list.count = 0;
    list.cut = false;
    for (UINT index = 0;; ++index) {
        MidiDeviceListing listing;
        const bool listed = direction == MidiDirection::kIn ? midiInDeviceListing(index, listing)
                                                            : midiOutDeviceListing(index, listing);
        if (!listed) {
            return;
        }
        if (index == kMaxListedDevices) {
            list.cut = true;
            return;
        }
        list.devices[index] = listing;
        list.count = index + 1;
    }
}

bool firstUsableMidiDevice(const MidiDeviceList& list, UINT& index) {
    for (UINT i = 0; i < list.count; ++i) {
        if (!isSystemMidiDevice(list.devices[i].name)) {
            index = i;
            return true;
        }
    }
    return false;
}

DeviceChoice chooseMidiDevice(const MidiDeviceList& list, const char* wanted, UINT& index) {
    if (list.count == 0) {
        return DeviceChoice::kNoDevice;
    }
    UINT number = 0;
    if (readIndex(wanted, number)) {
        if (number >= list.count) {
            return DeviceChoice::kNoSuchIndex;
        }
        index = number;
        return DeviceChoice::kChosen;
    }
    const NameMatch step = decidingStep(list, wanted);
    if (step == NameMatch::kNone) {
        return DeviceChoice::kNoSuchName;
    }
    UINT first = 0;
    if (countMatches(list, step, wanted, first) > 1) {
        return DeviceChoice::kAmbiguous;
    }
    index = first;
    return DeviceChoice::kChosen;
}

bool isCandidateMidiDevice(const MidiDeviceList& list, const char* wanted, UINT index) {
    const NameMatch step = decidingStep(list, wanted);
    return index < list.count &&
           (step == NameMatch::kNone || matchesAt(step, list.devices[index].name, wanted));
}
