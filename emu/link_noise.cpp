#include "emu/link_noise.h"

namespace emu {

std::vector<ExtraInput> NoisyLink::afterMessage(const std::optional<Bytes>& reply,
                                                int replyDelayMs) {
    ++received_;
    std::vector<ExtraInput> extra;
    for (const auto& stray : noise_.strays) {
        if (stray.afterMessage != received_) continue;
        Bytes bytes{0xF0};
        if (stray.code != kEmptyStray) bytes.push_back(static_cast<uint8_t>(stray.code));
        bytes.push_back(0xF7);
        extra.push_back(ExtraInput{stray.delayMs, bytes});
    }
    for (const auto& repeat : noise_.repeats) {
        if (repeat.message == received_ && reply) {
            extra.push_back(ExtraInput{replyDelayMs + repeat.delayMs, *reply});
        }
    }
    return extra;
}

}  // namespace emu
