#include <cstring>

#include "platform/win_base.h"

// Windows file names never hold C0 controls, and the bytes 0x80 to 0x9F are printable characters
// of the ANSI code page the console shows them in: the name is shown exactly as it is.
void printableFileName(const char* name, char* shown, size_t shownSize) {
    if (shownSize == 0) return;
    const size_t length = strnlen(name, shownSize - 1);
    std::memcpy(shown, name, length);
    shown[length] = '\0';
}
