#include "platform/winmm_face/winmm_model.h"

#include <algorithm>

namespace winmm_model {

namespace {

constexpr DWORD kCallbackTypeMask = 0x00070000u;
constexpr uint8_t kSysExStart = 0xF0;
constexpr size_t kShortMessageMax = 3;

bool headerOfOurSize(const MIDIHDR* header, UINT headerSize) {
    return header != nullptr && headerSize >= sizeof(MIDIHDR);
}

bool headerUsable(const MIDIHDR* header, UINT headerSize) {
    return headerOfOurSize(header, headerSize) && header->lpData != nullptr &&
           header->dwBufferLength > 0;
}

}  // namespace

DWORD callbackType(DWORD openFlags) {
    return openFlags & kCallbackTypeMask;
}

void copyProductName(const std::string& name, CHAR (&productName)[MAXPNAMELEN]) {
    const size_t length = name.size() < MAXPNAMELEN - 1 ? name.size() : MAXPNAMELEN - 1;
    std::memcpy(productName, name.data(), length);
    std::memset(productName + length, 0, MAXPNAMELEN - length);
}

MMRESULT prepareHeader(MIDIHDR* header, UINT headerSize) {
    if (!headerUsable(header, headerSize)) return MMSYSERR_INVALPARAM;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT unprepareInputHeader(MIDIHDR* header, UINT headerSize) {
    if (!headerOfOurSize(header, headerSize)) return MMSYSERR_INVALPARAM;
    if ((header->dwFlags & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT bufferRefusal(const MIDIHDR* header, UINT headerSize) {
    if (!headerUsable(header, headerSize)) return MMSYSERR_INVALPARAM;
    if ((header->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
    if ((header->dwFlags & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
    return MMSYSERR_NOERROR;
}

void queueBuffer(BufferQueue& queue, MIDIHDR* header) {
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    queue.push_back(header);
}

void handBack(MIDIHDR* header) {
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
}

BufferQueue handBackAll(BufferQueue& queue) {
    BufferQueue returned;
    returned.swap(queue);
    for (MIDIHDR* header : returned) {
        header->dwBytesRecorded = 0;
        handBack(header);
    }
    return returned;
}

bool isSystemExclusive(const uint8_t* bytes, size_t count) {
    return count > 0 && bytes[0] == kSysExStart;
}

DWORD_PTR packShortMessage(const uint8_t* bytes, size_t count) {
    DWORD packed = 0;
    for (size_t i = 0; i < count && i < kShortMessageMax; ++i) {
        packed |= static_cast<DWORD>(bytes[i]) << (8 * i);
    }
    return packed;
}

MIDIHDR* fillNextBuffer(BufferQueue& queue, const uint8_t* bytes, size_t count, size_t& offset) {
    if (offset >= count || queue.empty()) return nullptr;
    MIDIHDR* header = queue.front();
    queue.pop_front();
    const size_t part = std::min<size_t>(count - offset, header->dwBufferLength);
    std::memcpy(header->lpData, bytes + offset, part);
    header->dwBytesRecorded = static_cast<DWORD>(part);
    offset += part;
    handBack(header);
    return header;
}

}  // namespace winmm_model
