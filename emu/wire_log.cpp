#include "emu/wire_log.h"

#include <cstdio>

namespace emu {

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
