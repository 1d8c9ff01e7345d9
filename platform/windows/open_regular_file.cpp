#include "platform/win_base.h"

// The C runtime already refuses a folder, and a file name here cannot name a pipe.
std::FILE* openRegularFile(const char* name) {
    return std::fopen(name, "rb");
}
