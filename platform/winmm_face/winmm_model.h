// The rules of winmm's MIDI devices that the program meets, apart from any device: how headers
// are prepared, queued and handed back, how a message fills the queued input buffers, how a short
// message is packed, and what the open flags, the caps size and the product name may be. The
// face's devices (input_device, output_device) keep the locking and the threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>

#include "platform/midi_api.h"

namespace winmm_model {

// The program's input buffers, in the order they were added.
using BufferQueue = std::deque<MIDIHDR*>;

// Only the kind of callback counts in the open flags; other flags (such as asking for status
// messages) are let through, as winmm does.
DWORD callbackType(DWORD openFlags);

// A caps structure given shorter than ours gets as much as fits, as winmm does; a null one is
// refused.
template <typename Caps>
MMRESULT copyCaps(const Caps& caps, void* out, UINT outSize) {
    if (out == nullptr) return MMSYSERR_INVALPARAM;
    std::memcpy(out, &caps, outSize < sizeof caps ? outSize : sizeof caps);
    return MMSYSERR_NOERROR;
}

// The product name as the caps structure holds it: cut to 31 characters and terminated.
void copyProductName(const std::string& name, CHAR (&productName)[MAXPNAMELEN]);

// Preparing, In and Out alike: a header of our size with a buffer of at least one byte.
MMRESULT prepareHeader(MIDIHDR* header, UINT headerSize);
// Unpreparing an input header: refused while the header is queued.
MMRESULT unprepareInputHeader(MIDIHDR* header, UINT headerSize);
// Why a header may not be queued for input or sent (0 when it may): not usable, not prepared,
// or still queued or playing.
MMRESULT bufferRefusal(const MIDIHDR* header, UINT headerSize);
// Queues an input buffer that bufferRefusal let through, empty.
void queueBuffer(BufferQueue& queue, MIDIHDR* header);

// A header given back to the program: done, no longer queued.
void handBack(MIDIHDR* header);
// A reset: every queued buffer comes back empty, in order; the caller notifies them.
BufferQueue handBackAll(BufferQueue& queue);

bool isSystemExclusive(const uint8_t* bytes, size_t count);
// A short message travels packed in one parameter, status byte lowest.
DWORD_PTR packShortMessage(const uint8_t* bytes, size_t count);
// A System Exclusive message fills the queued buffers in turn: the next part, from offset, goes
// into the first queued buffer, which is handed back and returned; offset moves past the part.
// A message longer than a buffer spills into the next one. Null when no buffer is queued: what
// finds none is lost, as on a port nobody listens to.
MIDIHDR* fillNextBuffer(BufferQueue& queue, const uint8_t* bytes, size_t count, size_t& offset);

}  // namespace winmm_model
