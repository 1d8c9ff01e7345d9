#include "emu/emulated_brevanto.h"

#include <algorithm>

namespace emu {
namespace {

const Bytes kProbeA = {0x4C, 0x2E, 0x93, 0x07, 0x8D, 0x21, 0x95};
const Bytes kProbeB = {0x6B, 0x31, 0x5D, 0x48, 0x0F, 0x72, 0x29};
constexpr size_t kLengthFieldBytes = 2;
constexpr size_t kChecksumBytes = 2;

int hexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // the updater sends upper-case digits only
}

}  // namespace

BrevantoDevice::BrevantoDevice(DeviceScript script) : script_(std::move(script)) {}

Bytes BrevantoDevice::reply(uint8_t code) {
    return Bytes{0xF0, code, 0xF7};
}

std::optional<Bytes> BrevantoDevice::receive(const Bytes& message) {
    if (message.size() < 2 || message.front() != 0xF0 || message.back() != 0xF7) {
        return std::nullopt;  // not a whole System Exclusive message: ignored
    }
    lateMs_.reset();
    const Bytes payload(message.begin() + 1, message.end() - 1);
    if (payload == kProbeA || payload == kProbeB) {
        record_.clear();  // a probe starts the conversation afresh
        const bool answers = payload == kProbeA ? script_.answersProbeA : script_.answersProbeB;
        if (!answers) return std::nullopt;
        return reply(script_.identity);
    }

    // A hex chunk: two characters a byte, appended to the record being received.
    if (payload.size() % 2 != 0) {
        record_.clear();
        return reply(kDamaged);
    }
    for (size_t i = 0; i < payload.size(); i += 2) {
        const int high = hexValue(payload[i]);
        const int low = hexValue(payload[i + 1]);
        if (high < 0 || low < 0) {
            record_.clear();
            return reply(kDamaged);
        }
        record_.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    if (record_.size() < kLengthFieldBytes) return std::nullopt;
    const size_t size = (size_t{record_[0]} << 8 | record_[1]) + kLengthFieldBytes;
    if (record_.size() < size) return std::nullopt;  // more chunks to come
    if (record_.size() > size || size < kLengthFieldBytes + kChecksumBytes) {
        record_.clear();
        return reply(kDamaged);
    }
    return answerRecord();
}

std::optional<Bytes> BrevantoDevice::answerRecord() {
    ++attempt_;
    const auto late = script_.late.find(recordNumber_);
    if (late != script_.late.end()) {
        int last = 0;
        for (const auto& answer : late->second) {
            last += answer.attempts;
            if (attempt_ <= last) {
                lateMs_ = answer.delayMs;
                break;
            }
        }
    }
    Bytes record;
    record.swap(record_);

    int code = scriptedCode();
    if (code == kNotScripted) {
        const bool silent = script_.silentFrom > 0 && recordNumber_ >= script_.silentFrom;
        code = silent ? kNoAnswer : checksumVerdict(record);
    }
    if (code == kNoAnswer) return std::nullopt;
    if (code == kAcknowledged) {
        flashed_.insert(flashed_.end(), record.begin(), record.end());
        ++recordNumber_;
        attempt_ = 0;
    }
    return reply(static_cast<uint8_t>(code));
}

int BrevantoDevice::checksumVerdict(const Bytes& record) {
    uint16_t sum = 0;
    for (size_t i = kLengthFieldBytes; i < record.size() - kChecksumBytes; ++i) {
        sum = static_cast<uint16_t>(sum + record[i]);
    }
    const size_t ck = record.size() - kChecksumBytes;
    sum = static_cast<uint16_t>(sum + (record[ck] | record[ck + 1] << 8));
    return sum == 0 ? kAcknowledged : kCrcError;
}

int BrevantoDevice::scriptedCode() const {
    auto scripted = script_.replies.find(recordNumber_);
    if (scripted == script_.replies.end()) return kNotScripted;
    int first = 1;
    for (const auto& reply : scripted->second) {
        if (attempt_ < first + reply.attempts) return reply.code;
        first += reply.attempts;
    }
    return kNotScripted;
}

}  // namespace emu
