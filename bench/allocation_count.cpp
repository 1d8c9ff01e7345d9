// Heap allocations during one whole update run, by who made them.
//
// malloc and its family are replaced by counting forwarders to the C library's own allocator.
// Every allocation made while runUpdate() runs is put down to one of:
//   program       the updater's own code (main thread, or its input callback on the service's)
//   c_library     inside a C stdio call the updater made (fopen's FILE, stdio buffers)
//   platform      inside the MIDI service or the platform layer, on the main thread
//   service       the MIDI service's own thread, outside the updater's callback
// The MIDI service and the platform layer are built with function entry hooks, which keep a
// per-thread depth; stdio calls and the input callback are wrapped at link time.
// Usage: bench_allocations SCENARIO KIT_FOLDER   (one JSON line on standard output)
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "driver/run_update.h"
#include "emu/emulated_setup.h"
#include "midi/midi_in.h"
#include "tests/support/golden.h"

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* pointer);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

enum Who { kProgram, kCLibrary, kPlatform, kService, kWhoCount };
const char* const kWhoNames[kWhoCount] = {"program", "c_library", "platform", "service"};

thread_local bool onMainThread = false;
thread_local int platformDepth = 0;  // frames of the MIDI service or platform layer
thread_local int stdioDepth = 0;
thread_local bool inCallback = false;
std::atomic<bool> counting{false};
std::atomic<uint64_t> counts[kWhoCount];
std::atomic<uint64_t> callbackCalls{0};

__attribute__((no_instrument_function)) void noteAllocation() {
    if (!counting.load(std::memory_order_relaxed)) return;
    Who who;
    if (platformDepth > 0) {
        who = onMainThread ? kPlatform : kService;
    } else if (stdioDepth > 0) {
        who = kCLibrary;
    } else {
        who = (onMainThread || inCallback) ? kProgram : kService;
    }
    counts[who].fetch_add(1, std::memory_order_relaxed);
}

struct StdioScope {
    StdioScope() { ++stdioDepth; }
    ~StdioScope() { --stdioDepth; }
};

}  // namespace

// The allocator, counted.
extern "C" {
void* malloc(size_t size) noexcept {
    noteAllocation();
    return __libc_malloc(size);
}
void free(void* pointer) noexcept {
    __libc_free(pointer);
}
void* calloc(size_t count, size_t size) noexcept {
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) noexcept {
    noteAllocation();
    return __libc_realloc(pointer, size);
}
void* memalign(size_t alignment, size_t size) noexcept {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) noexcept {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    noteAllocation();
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) return ENOMEM;
    *out = pointer;
    return 0;
}

// Entry hooks of the instrumented MIDI service and platform layer.
__attribute__((no_instrument_function)) void __cyg_profile_func_enter(void*, void*) {
    ++platformDepth;
}
__attribute__((no_instrument_function)) void __cyg_profile_func_exit(void*, void*) {
    --platformDepth;
}

// C stdio as the updater calls it (--wrap at link time).
FILE* __real_fopen(const char* path, const char* mode);
int __real_fclose(FILE* file);
size_t __real_fread(void* buffer, size_t size, size_t count, FILE* file);
int __real_fflush(FILE* file);
int __real_vprintf(const char* format, va_list args);
int __real_vfprintf(FILE* file, const char* format, va_list args);
int __real_puts(const char* text);
int __real_fputs(const char* text, FILE* file);
int __real_putchar(int c);
int __real_fputc(int c, FILE* file);
size_t __real_fwrite(const void* buffer, size_t size, size_t count, FILE* file);

FILE* __wrap_fopen(const char* path, const char* mode) {
    StdioScope scope;
    return __real_fopen(path, mode);
}
int __wrap_fclose(FILE* file) {
    StdioScope scope;
    return __real_fclose(file);
}
size_t __wrap_fread(void* buffer, size_t size, size_t count, FILE* file) {
    StdioScope scope;
    return __real_fread(buffer, size, count, file);
}
int __wrap_fflush(FILE* file) {
    StdioScope scope;
    return __real_fflush(file);
}
int __wrap_vprintf(const char* format, va_list args) {
    StdioScope scope;
    return __real_vprintf(format, args);
}
// The compiler turns a vprintf call into vfprintf on stdout.
int __wrap_vfprintf(FILE* file, const char* format, va_list args) {
    StdioScope scope;
    return __real_vfprintf(file, format, args);
}
int __wrap_printf(const char* format, ...) {
    StdioScope scope;
    va_list args;
    va_start(args, format);
    const int result = __real_vprintf(format, args);
    va_end(args);
    return result;
}
int __wrap_puts(const char* text) {
    StdioScope scope;
    return __real_puts(text);
}
int __wrap_fputs(const char* text, FILE* file) {
    StdioScope scope;
    return __real_fputs(text, file);
}
int __wrap_putchar(int c) {
    StdioScope scope;
    return __real_putchar(c);
}
int __wrap_fputc(int c, FILE* file) {
    StdioScope scope;
    return __real_fputc(c, file);
}
size_t __wrap_fwrite(const void* buffer, size_t size, size_t count, FILE* file) {
    StdioScope scope;
    return __real_fwrite(buffer, size, count, file);
}

// The updater's input callback, which the service calls from inside its own frames: what the
// callback allocates is the updater's. The name is onMidiInput's on the Itanium C++ ABI.
void __real__Z11onMidiInputP9HMIDIIN__jmmm(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
void __wrap__Z11onMidiInputP9HMIDIIN__jmmm(HMIDIIN handle, UINT message, DWORD_PTR instance,
                                           DWORD_PTR param1, DWORD_PTR param2) {
    ++callbackCalls;
    const int savedDepth = platformDepth;
    const bool savedInCallback = inCallback;
    platformDepth = 0;
    inCallback = true;
    __real__Z11onMidiInputP9HMIDIIN__jmmm(handle, message, instance, param1, param2);
    inCallback = savedInCallback;
    platformDepth = savedDepth;
}
}

namespace {

struct Scenario {
    const char* name;
    std::string_view expected;  // text the run must print
    bool useKit;                // run in the kit folder; otherwise in a folder of its own
    const char* ownKit;         // content of Brevanto.kit in that folder, or null for none
};

const Scenario kScenarios[] = {
    {"full_update", golden::kSuccess, true, nullptr},
    {"device_rejects_then_accepts", golden::kSuccess, true, nullptr},
    {"device_silent", golden::kNotResponding, true, nullptr},
    {"no_midi_devices", golden::kMidiInMissing, true, nullptr},
    {"no_kit_file", golden::kKitNotFound, false, nullptr},
    {"damaged_kit", golden::kUpgradeError, false, "00 05 01 02 03 FF FA\r\n"},
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    onMainThread = true;
    const Scenario* scenario = nullptr;
    for (const auto& s : kScenarios) {
        if (argc == 3 && std::strcmp(argv[1], s.name) == 0) scenario = &s;
    }
    if (scenario == nullptr) {
        std::fprintf(stderr, "usage: bench_allocations SCENARIO KIT_FOLDER\nscenarios:");
        for (const auto& s : kScenarios) std::fprintf(stderr, " %s", s.name);
        std::fprintf(stderr, "\n");
        return 2;
    }

    std::string folder = argv[2];
    if (!scenario->useKit) {
        char pattern[] = "/tmp/talveron-alloc-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return 2;
        folder = pattern;
        if (scenario->ownKit != nullptr) {
            std::ofstream(folder + "/Brevanto.kit", std::ios::binary) << scenario->ownKit;
        }
    }
    if (chdir(folder.c_str()) != 0 || std::freopen("/dev/null", "r", stdin) == nullptr) return 2;

    emu::SimOptions options;
    if (std::strcmp(scenario->name, "device_rejects_then_accepts") == 0) {
        options.script.replies[1] = {emu::ScriptedReply{0x20, 2}};
        options.script.replies[3] = {emu::ScriptedReply{emu::kNoAnswer, 1}};
    } else if (std::strcmp(scenario->name, "device_silent") == 0) {
        options.script.answersProbeA = false;
        options.script.answersProbeB = false;
    } else if (std::strcmp(scenario->name, "no_midi_devices") == 0) {
        options.inPorts.clear();
        options.outPorts.clear();
    }
    const auto device = emu::setUpEmulation(options);  // the service is up before counting

    // The run's output goes to a file, so that the run's stdout is a fresh stream as in a real run.
    const std::string capture = folder + "/allocations.out";
    const int savedOut = dup(STDOUT_FILENO);
    const int captureFd = open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(captureFd, STDOUT_FILENO);
    close(captureFd);

    counting = true;
    runUpdate();
    counting = false;

    __real_fflush(stdout);
    dup2(savedOut, STDOUT_FILENO);
    close(savedOut);
    const bool outcome = readFile(capture).find(scenario->expected) != std::string::npos;

    std::printf("{\"scenario\": \"%s\", \"outcome_ok\": %s, \"callback_calls\": %llu",
                scenario->name, outcome ? "true" : "false",
                static_cast<unsigned long long>(callbackCalls.load()));
    for (int who = 0; who < kWhoCount; ++who) {
        std::printf(", \"%s\": %llu", kWhoNames[who],
                    static_cast<unsigned long long>(counts[who].load()));
    }
    std::printf("}\n");
    if (!scenario->useKit) {
        std::remove(capture.c_str());
        if (scenario->ownKit != nullptr) std::remove((folder + "/Brevanto.kit").c_str());
        rmdir(folder.c_str());
    }
    return outcome ? 0 : 1;
}
