#include "platform/program_name.h"

#include <cstdarg>
#include <cstdio>

namespace {

const char* gProgramName = "talveron-update";

}  // namespace

void setProgramName(const char* name) {
    gProgramName = name;
}

const char* programName() {
    return gProgramName;
}

void printError(const char* format, ...) {
    std::fprintf(stderr, "%s: ", gProgramName);
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}
