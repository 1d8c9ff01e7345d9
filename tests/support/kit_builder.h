#pragma once

// Builds records and kit text the way a firmware release would, for tests.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A record carrying payload: big-endian length, payload, little-endian checksum.
inline Bytes makeRecord(const Bytes& payload) {
    const uint16_t length = static_cast<uint16_t>(payload.size() + 2);
    uint16_t sum = 0;
    for (uint8_t b : payload) sum = static_cast<uint16_t>(sum + b);
    const uint16_t checksum = static_cast<uint16_t>(0x10000 - sum);
    Bytes record;
    record.reserve(payload.size() + 4);
    record.push_back(static_cast<uint8_t>(length >> 8));
    record.push_back(static_cast<uint8_t>(length & 0xFF));
    for (uint8_t b : payload) record.push_back(b);
    record.push_back(static_cast<uint8_t>(checksum & 0xFF));
    record.push_back(static_cast<uint8_t>(checksum >> 8));
    return record;
}

// A payload of n bytes that counts up from seed.
inline Bytes countingPayload(size_t n, uint8_t seed = 0) {
    Bytes payload(n);
    for (size_t i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(seed + i);
    return payload;
}

inline Bytes concat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Kit text: two upper-case hex digits a byte, 16 bytes a line, CR LF line ends.
inline std::string kitText(const Bytes& image) {
    std::string text;
    char digits[3];
    for (size_t i = 0; i < image.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02X", image[i]);
        text += digits;
        text += (i % 16 == 15 || i + 1 == image.size()) ? "\r\n" : " ";
    }
    return text;
}

inline std::string hexOf(const Bytes& bytes) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += digits;
    }
    return text;
}
