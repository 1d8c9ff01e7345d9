// A file name as a POSIX terminal may be shown it. Such a name may hold any byte but '/' and NUL,
// and a control character in it would act on the terminal: a line feed can start a line that
// looks like the program's own, an escape sequence can hide text. Each becomes '?'.
//
// Whether the terminal reads UTF-8 or an 8-bit character set cannot be known, so the name is read
// as UTF-8 first, the norm on Linux: a valid sequence is one character, shown as it is unless it
// is a C1 control (U+0080 to U+009F, encoded C2 80 to C2 9F). Every other byte stands alone, and
// alone the bytes 0x80 to 0x9F are what an 8-bit terminal takes as C1 controls. So Brevanto_é.kit
// prints unchanged, also where its bytes would fall in that range (€ is E2 82 AC); the cost is that
// an 8-bit terminal may still take such a byte within a valid UTF-8 character for a control.
#include <cstring>

#include "platform/win_base.h"

namespace {

constexpr char kShownForControl = '?';

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at text (2 to 4 bytes), or 0 where none starts: overlong
// forms, surrogates and code points past U+10FFFF are no valid sequence. The terminator ends any
// sequence, so nothing past it is read.
size_t utf8SequenceLength(const unsigned char* text) {
    const unsigned char lead = text[0];
    size_t length = 0;
    unsigned char secondLow = 0x80;  // the second byte's range narrows for some leads
    unsigned char secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead == 0xE0) {
        length = 3;
        secondLow = 0xA0;
    } else if (lead == 0xED) {
        length = 3;
        secondHigh = 0x9F;
    } else if (lead >= 0xE1 && lead <= 0xEF) {
        length = 3;
    } else if (lead == 0xF0) {
        length = 4;
        secondLow = 0x90;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
        length = 4;
    } else if (lead == 0xF4) {
        length = 4;
        secondHigh = 0x8F;
    } else {
        return 0;
    }
    if (text[1] < secondLow || text[1] > secondHigh) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (!isContinuation(text[i])) return 0;
    }
    return length;
}

bool isLoneControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F);
}

}  // namespace

void printableFileName(const char* name, char* shown, size_t shownSize) {
    if (shownSize == 0) return;
    const unsigned char* text = reinterpret_cast<const unsigned char*>(name);
    size_t used = 0;
    while (*text != '\0') {
        const size_t sequence = utf8SequenceLength(text);
        const size_t taken = sequence == 0 ? 1 : sequence;
        const bool control =
            sequence == 0 ? isLoneControl(text[0]) : (text[0] == 0xC2 && text[1] <= 0x9F);
        const size_t written = control ? 1 : taken;
        if (used + written >= shownSize) break;
        if (control) {
            shown[used] = kShownForControl;
        } else {
            std::memcpy(shown + used, text, taken);
        }
        used += written;
        text += taken;
    }
    shown[used] = '\0';
}
