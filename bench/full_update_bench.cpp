// A whole update of a kit against the emulated device answering at once.
//
// In process: runUpdate() with the emulated MIDI service, and a Sleep of our own that counts the
// pauses the updater takes. The protocol's floor is the 1 ms pause it mandates after every hex
// chunk, counted from the messages on the wire in the same run, and the closing listen until the
// last chunk is past its latest answer time and margin; the wall time is set against it.
// As processes: talveron-update-sim (the product's code and the emulator) for its CPU time and
// peak memory, and talveron-update with no MIDI device for the product's own peak memory.
// Over a link with a speed: the same update in process on virtual time, as the simulator runs it
// with --link-rate and --driver, for what the update costs on a MIDI cable.
// Sleep is the platform's own, counted on the way.
// Usage: bench_full_update KIT_FOLDER [benchmark options]   (the folder holds one Brevanto kit)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run_update.h"
#include "protocol/reply_wait.h"
#include "emu/emulated_setup.h"
#include "image/decode_kit_text.h"
#include "midi/midi_out.h"
#include "midi/midi_port.h"
#include "platform/win_base.h"
#include "tests/support/transcript.h"

extern char** environ;

namespace {

std::atomic<uint64_t> sleepCalls{0};
std::atomic<uint64_t> sleepMs{0};
std::atomic<uint64_t> stillPlayingSteps{0};

std::string kitFolder;
std::string kitName;
ImageBuffer expectedImage;
const std::string& kSuccess = transcript::kSuccess;

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double cpuSeconds(const rusage& r) {
    return seconds(r.ru_utime) + seconds(r.ru_stime);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isHexChunk(const emu::SentMessage& message) {
    // Hex chunks carry ASCII hex digits only; the probes start with other bytes.
    const uint8_t first = message.bytes.size() > 1 ? message.bytes[1] : 0;
    return (first >= '0' && first <= '9') || (first >= 'A' && first <= 'F');
}

// Standard output goes to the file at path while it lives: the update's console text is read
// back, not printed among the benchmark's.
class StdoutToFile {
  public:
    explicit StdoutToFile(const std::string& path) {
        std::fflush(stdout);
        savedOut_ = dup(STDOUT_FILENO);
        const int captureFd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(captureFd, STDOUT_FILENO);
        close(captureFd);
    }
    ~StdoutToFile() {
        std::fflush(stdout);
        dup2(savedOut_, STDOUT_FILENO);
        close(savedOut_);
    }

  private:
    int savedOut_;
};

// The run printed its success and the device stored exactly the kit's image.
bool wholeImageFlashed(const std::string& capture, const emu::BrevantoDevice& device) {
    const auto& flashed = device.flashed();
    return readFile(capture).find(kSuccess) != std::string::npos &&
           flashed.size() == expectedImage.count &&
           std::memcmp(flashed.data(), expectedImage.bytes, flashed.size()) == 0;
}

void BM_FullUpdateInProcess(benchmark::State& state) {
    const std::string capture = kitFolder + "/bench_full_update.out";
    for (auto _ : state) {
        emu::SimOptions options;  // the default ports; the device answers at once
        const auto device = emu::setUpEmulation(options);
        midiPort.replyCount.store(0);
        sleepCalls = 0;
        sleepMs = 0;

        rusage processBefore, processAfter, mainBefore, mainAfter;
        std::chrono::steady_clock::time_point start, end;
        {
            StdoutToFile quiet(capture);
            getrusage(RUSAGE_SELF, &processBefore);
            getrusage(RUSAGE_THREAD, &mainBefore);
            start = std::chrono::steady_clock::now();
            runUpdate();
            end = std::chrono::steady_clock::now();
            getrusage(RUSAGE_THREAD, &mainAfter);
            getrusage(RUSAGE_SELF, &processAfter);
        }
        if (!wholeImageFlashed(capture, *device)) {
            state.SkipWithError("the update did not complete with the whole image flashed");
            return;
        }
        const auto& flashed = device->flashed();
        uint64_t chunks = 0;
        uint64_t probes = 0;
        for (const auto& message : emu::sentMessages()) (isHexChunk(message) ? chunks : probes)++;

        const double wall = std::chrono::duration<double>(end - start).count();
        // 1 ms after every chunk, and the closing listen from the last chunk on.
        const double closing = kListenPolls * static_cast<double>(kPollFloorMicroseconds) / 1e6;
        const double floor = static_cast<double>(chunks) / 1000.0 + closing;
        state.SetIterationTime(wall);
        state.counters["closing_listen_ms"] = closing * 1000.0;
        state.counters["image_bytes"] = static_cast<double>(flashed.size());
        state.counters["hex_chunks"] = static_cast<double>(chunks);
        state.counters["probes"] = static_cast<double>(probes);
        state.counters["floor_ms"] = floor * 1000.0;
        state.counters["wall_over_floor"] = wall / floor;
        state.counters["sleep_calls"] = static_cast<double>(sleepCalls.load());
        state.counters["sleep_ms"] = static_cast<double>(sleepMs.load());
        state.counters["poll_pauses"] =
            static_cast<double>(sleepMs.load()) - static_cast<double>(chunks);
        state.counters["process_cpu_share"] =
            (cpuSeconds(processAfter) - cpuSeconds(processBefore)) / wall;
        state.counters["main_thread_cpu_share"] =
            (cpuSeconds(mainAfter) - cpuSeconds(mainBefore)) / wall;
    }
}

// A full update over a link of state.range(0) bytes a second, midiOutLongMsg blocking when
// state.range(1) is 1, on virtual time: the time it reports is the run's on the virtual clock,
// from the banner to the key-press prompt.
void BM_FullUpdateOverLink(benchmark::State& state) {
    const std::string capture = kitFolder + "/bench_full_update_link.out";
    for (auto _ : state) {
        emu::SimOptions options;
        options.linkRate = state.range(0);
        options.driverSync = state.range(1) == 1;
        if (!emu::useVirtualTime(true)) {
            state.SkipWithError("no virtual time on this platform");
            return;
        }
        const auto device = emu::setUpEmulation(options);
        midiPort.replyCount.store(0);
        sleepCalls = 0;
        sleepMs = 0;
        stillPlayingSteps = 0;

        LARGE_INTEGER start, end, frequency;
        QueryPerformanceFrequency(&frequency);
        {
            StdoutToFile quiet(capture);
            QueryPerformanceCounter(&start);
            runUpdate();
            QueryPerformanceCounter(&end);
        }
        emu::useVirtualTime(false);
        if (!wholeImageFlashed(capture, *device)) {
            state.SkipWithError("the update did not complete with the whole image flashed");
            return;
        }
        uint64_t chunks = 0;
        uint64_t probes = 0;
        uint64_t wireBytes = 0;
        for (const auto& message : emu::sentMessages()) {
            (isHexChunk(message) ? chunks : probes)++;
            wireBytes += message.bytes.size();
        }
        const double virtualSeconds = static_cast<double>(end.QuadPart - start.QuadPart) /
                                      static_cast<double>(frequency.QuadPart);
        state.SetIterationTime(virtualSeconds);
        state.counters["link_bytes_per_s"] = static_cast<double>(options.linkRate);
        state.counters["driver_sync"] = options.driverSync ? 1 : 0;
        state.counters["virtual_ms"] = virtualSeconds * 1000.0;
        state.counters["hex_chunks"] = static_cast<double>(chunks);
        state.counters["probes"] = static_cast<double>(probes);
        state.counters["wire_bytes"] = static_cast<double>(wireBytes);
        state.counters["sleep_calls"] = static_cast<double>(sleepCalls.load());
        state.counters["sleep_ms"] = static_cast<double>(sleepMs.load());
        state.counters["still_playing_steps"] = static_cast<double>(stillPlayingSteps.load());
    }
}

struct ChildRun {
    bool ok = false;
    double wall = 0;  // from the start to the key-press prompt
    rusage usage{};
    long peakKib = 0;  // the process's own peak resident memory (VmHWM), read at the prompt
    std::string out;
};

const std::string& kPrompt = transcript::kKeyPrompt;
constexpr int kChildLimitMs = 120000;

long peakResidentKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

// Runs one program in the kit folder. At its key-press prompt the run is over: its peak memory is
// read then (the peak of its own address space; rusage's would include the parent's from before
// the exec), and a key is sent.
ChildRun runChild(const char* program) {
    ChildRun run;
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    posix_spawn_file_actions_addchdir_np(&actions, kitFolder.c_str());
    char* argv[] = {const_cast<char*>(program), nullptr};
    pid_t pid;
    const auto start = std::chrono::steady_clock::now();
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    if (spawned != 0) {
        close(toChild[1]);
        close(fromChild[0]);
        return run;
    }

    bool prompted = false;
    char block[4096];
    for (;;) {
        pollfd ready{fromChild[0], POLLIN, 0};
        if (poll(&ready, 1, kChildLimitMs) <= 0) {
            kill(pid, SIGKILL);  // bounded: a run that hangs is a failed run
            break;
        }
        const ssize_t got = read(fromChild[0], block, sizeof block);
        if (got <= 0) break;
        run.out.append(block, static_cast<size_t>(got));
        if (!prompted && run.out.size() >= kPrompt.size() &&
            run.out.compare(run.out.size() - kPrompt.size(), kPrompt.size(), kPrompt) == 0) {
            prompted = true;
            run.wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            run.peakKib = peakResidentKib(pid);
            const char key = '\n';
            if (write(toChild[1], &key, 1) != 1) break;
        }
    }
    close(toChild[1]);
    close(fromChild[0]);
    int status = 0;
    const pid_t waited = wait4(pid, &status, 0, &run.usage);
    run.ok = prompted && waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

void BM_FullUpdateSimProcess(benchmark::State& state) {
    for (auto _ : state) {
        const ChildRun run = runChild(TALVERON_UPDATE_SIM_EXE);
        if (!run.ok || run.out.find(kSuccess) == std::string::npos) {
            state.SkipWithError("talveron-update-sim did not complete the update");
            return;
        }
        state.SetIterationTime(run.wall);
        state.counters["cpu_share"] = cpuSeconds(run.usage) / run.wall;
        state.counters["cpu_ms"] = cpuSeconds(run.usage) * 1000.0;
        state.counters["peak_rss_kib"] = static_cast<double>(run.peakKib);
    }
}

void BM_ProductNoDeviceProcess(benchmark::State& state) {
    for (auto _ : state) {
        const ChildRun run = runChild(TALVERON_UPDATE_EXE);
        if (!run.ok || run.out.find(golden::kMidiInMissing) == std::string::npos) {
            state.SkipWithError("talveron-update did not reach the MIDI stage");
            return;
        }
        state.SetIterationTime(run.wall);
        state.counters["cpu_ms"] = cpuSeconds(run.usage) * 1000.0;
        state.counters["peak_rss_kib"] = static_cast<double>(run.peakKib);
    }
}

BENCHMARK(BM_FullUpdateInProcess)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullUpdateSimProcess)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProductNoDeviceProcess)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// A fast link, and a MIDI cable (31,250 baud: 3,125 bytes a second) behind a driver that blocks
// and behind one that leaves the message playing. On virtual time one run of each is exact.
BENCHMARK(BM_FullUpdateOverLink)
    ->Args({0, 0})
    ->Args({3125, 1})
    ->Args({3125, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

bool findKit(const char* folder) {
    kitFolder = folder;
    if (chdir(folder) != 0) return false;
    WIN32_FIND_DATAA entry;
    if (FindFirstFileA("*.kit", &entry) == INVALID_HANDLE_VALUE) return false;
    kitName = entry.cFileName;
    std::FILE* file = std::fopen(kitName.c_str(), "rb");
    if (file == nullptr) return false;
    const KitDecodeStatus status = decodeKitFile(file, expectedImage);
    std::fclose(file);
    return status == KitDecodeStatus::kEnded && expectedImage.count > 0;
}

}  // namespace

// The platform's own Sleep, counted on the way (--wrap at link time; the name is Sleep's on the
// Itanium C++ ABI).
extern "C" {
void __real__Z5Sleepj(DWORD dwMilliseconds);
void __wrap__Z5Sleepj(DWORD dwMilliseconds) {
    ++sleepCalls;
    sleepMs += dwMilliseconds;
    if (dwMilliseconds == kStillPlayingStepMs) ++stillPlayingSteps;
    __real__Z5Sleepj(dwMilliseconds);
}
}

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc != 2 || !findKit(argv[1])) {
        std::fprintf(stderr, "usage: bench_full_update KIT_FOLDER [benchmark options]\n");
        return 2;
    }
    // The key-press wait at the end of each run must not wait for anyone.
    if (std::freopen("/dev/null", "r", stdin) == nullptr) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
