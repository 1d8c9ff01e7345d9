// The Windows builds, cross-compiled with MinGW-w64, as Wine runs them: what each executable is
// and what it imports, the product's runs that end before the MIDI stage, and whole updates of the
// simulator built for Windows with the emulated MIDI service. The Linux builds are the oracle: the
// Windows build must print what they print, send what they send and leave the device holding what
// they leave. Wine's prefix and server are .ci/windows.sh's; without a prefix the runs are skipped.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/timing.h"
#include "tests/support/run_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/transcript.h"

namespace {

// Debian's Wine loaders. One prefix serves both: the 32-bit programs run through its syswow64.
const std::string kWine64 = "/usr/lib/wine/wine64";
const std::string kWine32 = "/usr/lib/wine/wine";

// The updater's waits, as the Windows build makes them on the real clock: a handshake attempt and
// their number, a record's verdict (the device's latest answer time and the updater's margin) and
// the attempts a record gets, the step while a message still plays, the pause after a hex chunk,
// and a MIDI cable's rate.
constexpr double kHandshakeAttemptSeconds = kHandshakeAttemptMicroseconds / 1e6;
constexpr double kVerdictWaitSeconds = kListenMicroseconds / 1e6;
constexpr int kAttemptsPerRecord = kMaxAttemptsPerRecord;
constexpr double kStillPlayingStepSeconds = kStillPlayingStepMs / 1e3;
constexpr double kChunkPauseSeconds = kChunkPauseMs / 1e3;
constexpr double kCableBytesPerSecond = 3125;
// A silent device's twenty attempts at a record take over two minutes.
constexpr unsigned kSilentRecordLimitSeconds = 180;

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A text the programs print, as the checks keep it byte for byte.
std::string golden(const std::string& name) {
    return fileText(std::filesystem::path(TALVERON_GOLDEN_DIR) / (name + ".txt"));
}
// A one-line text without its line break.
std::string goldenLine(const std::string& name) {
    std::string line = golden(name);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

bool startsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}
bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Standard output stays in the C runtime's text mode, so every line feed arrives as CR LF, and the
// run ends at cmd's key-press prompt as Wine prints it (no key ever comes). Read as the Linux build
// prints it, the output of a Windows build must equal the Linux build's.
void expectSameOutput(const std::string& windows, const std::string& linux) {
    for (size_t at = windows.find('\n'); at != std::string::npos; at = windows.find('\n', at + 1))
        ASSERT_TRUE(at > 0 && windows[at - 1] == '\r')
            << "a line feed without CR at byte " << at << ": standard output is not in text mode";
    const std::string cmdPrompt = golden("prompt-wine");
    ASSERT_TRUE(endsWith(windows, cmdPrompt)) << "does not end with cmd's prompt as Wine prints it";
    std::string asLinux;
    for (size_t i = 0; i < windows.size() - cmdPrompt.size(); ++i) {
        if (windows[i] == '\r' && windows[i + 1] == '\n') continue;
        asLinux += windows[i];
    }
    EXPECT_EQ(asLinux + transcript::kPrompt, linux);
}

// Some kernels run no 32-bit program at all: the exec fails even with wine32 installed.
bool runs32BitPrograms() {
    static const bool runs = runProcess(kWine32, {"--version"}, ".").exitStatus == 0;
    return runs;
}

// The runs under Wine, in the prefix .ci/windows.sh makes.
template <class Case>
class UnderWine : public testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        if (std::getenv("WINEPREFIX") == nullptr)
            GTEST_SKIP() << "no Wine prefix: .ci/windows.sh makes one and runs these tests";
    }
};

std::string testName(std::string words) {
    for (char& c : words)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return words;
}

struct WindowsExe {
    int bits;
    std::string path;
    std::string kind;  // as file(1) names it
    std::string objdump;
    std::string loader;
};

const std::vector<WindowsExe> kProducts = {
    {32, TALVERON_WINDOWS_BUILDS "/build-win32/talveron-update.exe",
     "PE32 executable (console) Intel 80386", MINGW32_OBJDUMP, kWine32},
    {64, TALVERON_WINDOWS_BUILDS "/build-win64/talveron-update.exe",
     "PE32+ executable (console) x86-64", MINGW64_OBJDUMP, kWine64},
};

void PrintTo(const WindowsExe& exe, std::ostream* os) {
    *os << exe.path;
}

class WindowsProduct : public testing::TestWithParam<WindowsExe> {};

// A console program of its kind that needs nothing but the system's own DLLs (no MinGW runtime
// beside it), takes its MIDI calls from winmm and never changes the system timer's resolution.
TEST_P(WindowsProduct, ImportsOnlyTheSystemsDlls) {
    const WindowsExe& exe = GetParam();
    const std::string kind = runProcess("/usr/bin/file", {"-b", exe.path}, ".").out;
    EXPECT_TRUE(startsWith(kind, exe.kind)) << kind;

    const std::string dump = runProcess(exe.objdump, {"-p", exe.path}, ".").out;
    std::set<std::string> dlls, winmmNames, allNames;
    std::istringstream lines(dump);
    bool inWinmm = false;
    for (std::string line; std::getline(lines, line);) {
        if (startsWith(line, "\tDLL Name: ")) {
            std::string dll = line.substr(11);
            for (char& c : dll) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            dlls.insert(dll);
            inWinmm = dll == "winmm.dll";
            continue;
        }
        if (line.empty()) inWinmm = false;
        std::istringstream words(line);
        for (std::string word; words >> word;) (inWinmm ? winmmNames : allNames).insert(word);
    }
    EXPECT_EQ(dlls, (std::set<std::string>{"kernel32.dll", "msvcrt.dll", "winmm.dll"}));
    for (const char* name :
         {"midiInOpen", "midiInGetDevCapsA", "midiInPrepareHeader", "midiInAddBuffer",
          "midiInStart", "midiInUnprepareHeader", "midiInClose", "midiOutOpen",
          "midiOutGetDevCapsA", "midiOutPrepareHeader", "midiOutLongMsg", "midiOutUnprepareHeader",
          "midiOutClose", "midiInReset", "midiOutReset"})
        EXPECT_EQ(winmmNames.count(name), 1u) << name << " not taken from winmm";
    for (const char* name :
         {"FindFirstFileA", "Sleep", "QueryPerformanceCounter", "QueryPerformanceFrequency"})
        EXPECT_EQ(allNames.count(name), 1u) << name << " not imported";
    EXPECT_EQ(allNames.count("timeBeginPeriod") + winmmNames.count("timeBeginPeriod"), 0u)
        << "changes the system timer's resolution";
}

std::string productName(const testing::TestParamInfo<WindowsExe>& product) {
    return "Win" + std::to_string(product.param.bits);
}
INSTANTIATE_TEST_SUITE_P(Builds, WindowsProduct, testing::ValuesIn(kProducts), productName);

struct ProductCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // name, content
};

// Two valid records, CR LF line ends as a release has them.
const std::string kValidKit = "00 05 01 02 03 FA FF\r\n00 04 04 05 F7 FF\r\n";

const std::vector<ProductCase> kProductCases = {
    {"no kit file", {}},
    {"name lacks the family prefix", {{"Sonora.kit", kValidKit}}},
    {"bad checksum", {{"Brevanto.kit", "00 05 01 02 03 FF FA\r\n"}}},
    {"empty kit", {{"Brevanto.kit", ""}}},
    {"valid kit, no MIDI device", {{"brevanto_v2.kit", kValidKit}}},
    {"upper-case name and extension", {{"BREVANTO.KIT", kValidKit}}},
};

void PrintTo(const ProductCase& c, std::ostream* os) {
    *os << c.name;
}

class WindowsProductRun : public UnderWine<std::tuple<WindowsExe, ProductCase>> {};

// Each product in a directory holding the case's files prints what the Linux build without MIDI
// ports prints there, and ends by itself with status 0.
TEST_P(WindowsProductRun, PrintsWhatTheLinuxBuildPrints) {
    const auto& [exe, c] = GetParam();
    if (exe.bits == 32 && !runs32BitPrograms())
        GTEST_SKIP()
            << "this machine's kernel does not execute 32-bit programs; .ci/vm.sh runs them";
    ScratchDir linuxDir, windowsDir;
    for (const auto& [name, content] : c.files) {
        linuxDir.write(name, content);
        windowsDir.write(name, content);
    }
    const ProcessResult linux = runProcess(TALVERON_UPDATE_NO_MIDI_EXE, {}, linuxDir.path());
    ASSERT_EQ(linux.exitStatus, 0);
    const ProcessResult windows = runProcess(exe.loader, {exe.path}, windowsDir.path());
    ASSERT_EQ(windows.exitStatus, 0) << "-1: still running after " << kRunLimitSeconds << " s";
    expectSameOutput(windows.out, linux.out);
}

std::string productRunName(const testing::TestParamInfo<WindowsProductRun::ParamType>& run) {
    return "Win" + std::to_string(std::get<0>(run.param).bits) + "_" +
           testName(std::get<1>(run.param).name);
}
INSTANTIATE_TEST_SUITE_P(Runs, WindowsProductRun,
                         testing::Combine(testing::ValuesIn(kProducts),
                                          testing::ValuesIn(kProductCases)),
                         productRunName);

using Wire = std::vector<std::string>;  // one message a line, as hex

// What a case's reply waits take at least on the real clock, from the messages the run sent.
double noWaits(const Wire&) {
    return 0;
}
double silentRecord(const Wire&) {
    return kAttemptsPerRecord * kVerdictWaitSeconds;
}
double silentHandshake(const Wire&) {
    return kHandshakeAttempts * kHandshakeAttemptSeconds;
}
// The lost verdict's wait before the resend, and the closing listen after the last record.
double verdictLostOnce(const Wire&) {
    return 2 * kVerdictWaitSeconds;
}
// Probe A's attempt; unanswered, the listen until probe B is a verdict's wait old; the closing
// listen.
double probeBOnly(const Wire&) {
    return kHandshakeAttemptSeconds + 2 * kVerdictWaitSeconds;
}
// A driver that returns at once: every message costs a still-playing step; the closing listen.
double playingCable(const Wire& wire) {
    return static_cast<double>(wire.size()) * kStillPlayingStepSeconds + kVerdictWaitSeconds;
}
// A driver that blocks: the bytes at the cable's rate, a chunk pause between two messages; the
// closing listen.
double blockingCable(const Wire& wire) {
    size_t bytes = 0;
    for (const std::string& message : wire) bytes += (message.size() + 1) / 3;
    return static_cast<double>(bytes) / kCableBytesPerSecond +
           static_cast<double>(wire.size() - 1) * kChunkPauseSeconds + kVerdictWaitSeconds;
}

struct UpdateCase {
    const char* name;
    const char* ending;  // the text of a line the transcript holds: the case ran as meant
    int kitBytes;        // of the sample kit: 2000 make 8 records, 30 one of two hex chunks
    std::vector<std::string> args;
    double (*floorSeconds)(const Wire&) = noWaits;
    unsigned limitSeconds = kRunLimitSeconds;
    // The Linux build on the real clock too, held to the same floor: nothing else proves its.
    bool linuxOnRealClock = false;
};

// Mostly a silent device's waits: they take next to no processor time, so .ci/windows.sh runs
// them beside the rest.
const std::vector<UpdateCase> kLongWaitCases = {
    {"device falls silent",
     "not-responding",
     2000,
     {"--silent-from", "4"},
     silentRecord,
     kSilentRecordLimitSeconds},
    {"no device on the ports", "not-responding", 2000, {"--device-port", "none"}, silentHandshake},
    {"a record's verdict lost once",
     "success",
     2000,
     {"--reply", "3=none"},
     verdictLostOnce,
     kRunLimitSeconds,
     true},
    {"a MIDI cable, the message left playing",
     "success",
     2000,
     {"--link-rate", "3125", "--driver", "async"},
     playingCable},
};

const std::vector<UpdateCase> kUpdateCases = {
    {"successful update", "success", 40960, {}},
    {"device answers probe B only", "success", 2000, {"--probes", "B"}, probeBOnly},
    {"device still resetting", "resetting", 2000, {"--identity", "0x15"}},
    {"device of another family", "not-matched", 2000, {"--identity", "0x34"}},
    {"rejections, then acknowledged",
     "success",
     2000,
     {"--reply", "2=0x20/3", "--reply", "4=0x21", "--reply", "5=0x22", "--reply", "6=0x24",
      "--reply", "7=0x25", "--reply", "3=0x23"}},
    {"every attempt rejected", "update-error", 2000, {"--reply", "3=0x20/20"}},
    {"restart on the last record", "restart", 2000, {"--reply", "8=0x77"}},
    {"answers late but in time", "success", 2000, {"--delay-ms", "20"}},
    {"output unplugged", "midi-out-missing", 2000, {"--unplug-after", "12"}},
    {"only Microsoft inputs",
     "midi-in-missing",
     2000,
     {"--in-ports", "Microsoft MIDI In,MICROSOFT other"}},
    {"each message plays for 150 ms", "success", 30, {"--busy-ms", "150"}},
    {"a MIDI cable, midiOutLongMsg blocking",
     "success",
     2000,
     {"--link-rate", "3125", "--driver", "sync"},
     blockingCable},
};

struct TimedRun {
    ProcessResult result;
    double seconds;
};

TimedRun timedRun(const std::string& program, const std::vector<std::string>& args,
                  const std::filesystem::path& dir, unsigned limitSeconds) {
    const auto started = std::chrono::steady_clock::now();
    ProcessResult result = runProcess(program, args, dir, limitSeconds);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    return {result, took.count()};
}

Wire wireOf(const std::filesystem::path& log) {
    Wire wire;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) wire.push_back(line);
    return wire;
}

bool holdsLine(const std::string& text, const std::string& line) {
    std::istringstream lines(text);
    for (std::string each; std::getline(lines, each);)
        if (each == line) return true;
    return false;
}

void PrintTo(const UpdateCase& c, std::ostream* os) {
    *os << c.name;
}

class WindowsUpdate : public UnderWine<UpdateCase> {};

// One update with the emulated service and device, set up by the case's options, on a sample kit:
// the Windows build prints, sends and stores what the Linux build does. The Linux build runs on
// virtual time, which gives the same run as the real clock at no cost; the Windows build pauses in
// the system's own Sleep, so its waits are real and must last their floor.
TEST_P(WindowsUpdate, SameTranscriptMessagesAndImageAsTheLinuxBuild) {
    const UpdateCase& c = GetParam();
    ScratchDir linuxDir, windowsDir;
    const ProcessResult made = runProcess(
        MAKE_SAMPLE_KIT_EXE,
        {(linuxDir.path() / "Brevanto_sample.kit").string(), std::to_string(c.kitBytes)}, ".");
    ASSERT_EQ(made.exitStatus, 0);
    std::filesystem::copy_file(linuxDir.path() / "Brevanto_sample.kit",
                               windowsDir.path() / "Brevanto_sample.kit");
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--wire-log", "wire.txt", "--flashed", "flashed.bin"});

    std::vector<std::string> linuxArgs = args;
    if (!c.linuxOnRealClock) linuxArgs.insert(linuxArgs.end(), {"--virtual-time", "yes"});
    const TimedRun linux =
        timedRun(TALVERON_LINUX_SIM_EXE, linuxArgs, linuxDir.path(), c.limitSeconds);
    ASSERT_EQ(linux.result.exitStatus, 0) << "the Linux build";
    ASSERT_TRUE(endsWith(linux.result.out, transcript::kPrompt) &&
                holdsLine(linux.result.out, goldenLine(c.ending)))
        << "the Linux build did not run the case: no \"" << goldenLine(c.ending) << "\" and prompt";
    const Wire wire = wireOf(linuxDir.path() / "wire.txt");
    const double floor = c.floorSeconds(wire);
    if (c.linuxOnRealClock) {
        EXPECT_GE(linux.seconds, floor) << "the Linux build's reply waits";
    }

    std::vector<std::string> windowsArgs = {TALVERON_WINDOWS_BUILDS
                                            "/build-win64-sim/talveron-update-sim.exe"};
    windowsArgs.insert(windowsArgs.end(), args.begin(), args.end());
    const TimedRun windows = timedRun(kWine64, windowsArgs, windowsDir.path(), c.limitSeconds);
    ASSERT_EQ(windows.result.exitStatus, 0) << "-1: still running after " << c.limitSeconds << " s";
    EXPECT_GE(windows.seconds, floor) << "the Windows build's reply waits";
    expectSameOutput(windows.result.out, linux.result.out);
    EXPECT_EQ(fileText(windowsDir.path() / "wire.txt"), fileText(linuxDir.path() / "wire.txt"))
        << "the messages sent";
    EXPECT_EQ(fileText(windowsDir.path() / "flashed.bin"),
              fileText(linuxDir.path() / "flashed.bin"))
        << "what the device stored";
}

std::string updateName(const testing::TestParamInfo<UpdateCase>& update) {
    return testName(update.param.name);
}
INSTANTIATE_TEST_SUITE_P(RealClockWaits, WindowsUpdate, testing::ValuesIn(kLongWaitCases),
                         updateName);
INSTANTIATE_TEST_SUITE_P(Updates, WindowsUpdate, testing::ValuesIn(kUpdateCases), updateName);

}  // namespace
