// Whole runs of the product in a scratch directory, as a user starts it: exact standard output,
// exit status 0, and the MIDI stage reached only with a valid kit. Standard error stays empty
// unless the run ends without a device, and then holds one line saying why.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/kit_builder.h"
#include "tests/support/run_process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/transcript.h"

namespace {

using transcript::kBanner;
using transcript::kFitNotFound;
using transcript::kKitNotFound;
using transcript::kMidiInMissing;
using transcript::kNoMidiLibrary;
using transcript::kOpen;
using transcript::kPrompt;
using transcript::kUpgradeError;

struct RunCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // name, content
    std::string expected;
    bool endsWithoutDevice = false;
};

// What this machine's product says when it finds no MIDI device: its MIDI service is chosen when
// it is built, and with the ALSA sequencer the line depends on the sequencer's state.
std::string noDeviceLine(const std::string& stderrText) {
    if (std::string(TALVERON_PRODUCT_MIDI) == "none") {
        return "talveron-update: " + kNoMidiLibrary;
    }
    if (!std::filesystem::exists("/dev/snd/seq")) {
        return "talveron-update: " + std::string(golden::kAlsaNoSequencer);
    }
    // A sequencer is there: one line, whichever of the other reasons it is.
    const bool oneLine = stderrText.rfind("talveron-update: ", 0) == 0 &&
                         stderrText.find('\n') == stderrText.size() - 1;
    return oneLine ? stderrText : "one line beginning with talveron-update: ";
}

std::string tooManyNumbers() {
    std::string text;
    for (int i = 0; i < 65536; ++i) text += "00";
    return text;
}

TEST(RunTranscript, EveryEndBeforeTheDevice) {
    const std::string valid = kitText(concat({makeRecord({1, 2, 3}), makeRecord({4, 5})}));
    const std::vector<RunCase> cases = {
        {"no kit file", {}, kBanner + kKitNotFound + kPrompt},
        {"name lacks the family prefix", {{"Sonora.kit", valid}}, kBanner + kFitNotFound + kPrompt},
        {"bad checksum",
         {{"Brevanto.kit", "00 05 01 02 03 FF FA\r\n"}},
         kBanner + kOpen + kUpgradeError + kPrompt},
        {"empty file", {{"Brevanto.kit", ""}}, kBanner + kOpen + kUpgradeError + kPrompt},
        {"Intel-HEX text",
         {{"Brevanto.kit", ":0300000001020305\r\n:00000001FF\r\n"}},
         kBanner + kOpen + kUpgradeError + kPrompt},
        {"more numbers than the count holds",
         {{"Brevanto.kit", tooManyNumbers()}},
         kBanner + kOpen + kUpgradeError + kPrompt},
        {"valid kit reaches the MIDI stage",
         {{"brevanto_v2.kit", valid}},
         kBanner + transcript::opened("brevanto_v2.kit") + kMidiInMissing + kPrompt,
         true},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        for (const auto& [name, content] : c.files) dir.write(name, content);
        const ProcessResult result = runProcess(TALVERON_UPDATE_EXE, {}, dir.path());
        EXPECT_EQ(result.out, c.expected) << c.name;
        EXPECT_EQ(result.err, c.endsWithoutDevice ? noDeviceLine(result.err) : "") << c.name;
        EXPECT_EQ(result.exitStatus, 0) << c.name;
    }
}

TEST(RunTranscript, BuildWithoutMidiLibrarySaysSoOnStandardError) {
    ScratchDir dir;
    dir.write("Brevanto.kit", kitText(makeRecord({1, 2, 3})));
    const ProcessResult result = runProcess(TALVERON_UPDATE_NO_MIDI_EXE, {}, dir.path());
    EXPECT_EQ(result.out, kBanner + kOpen + kMidiInMissing + kPrompt);
    EXPECT_EQ(result.err, "talveron-update: " + kNoMidiLibrary);
    EXPECT_EQ(result.exitStatus, 0);
}

TEST(RunTranscript, KitEntryThatIsNoRegularFile) {
    // The search finds the name, but it names no file that can be read as a kit. A FIFO would
    // block an open for reading until a writer came; nothing may wait on it.
    using MakeEntry = void (*)(const std::filesystem::path& kit);
    const std::vector<std::pair<const char*, MakeEntry>> cases = {
        {"link to nothing",
         [](const auto& kit) { std::filesystem::create_symlink(kit.parent_path() / "gone", kit); }},
        {"directory", [](const auto& kit) { std::filesystem::create_directory(kit); }},
        {"link to a directory",
         [](const auto& kit) {
             std::filesystem::create_directory(kit.parent_path() / "d");
             std::filesystem::create_directory_symlink(kit.parent_path() / "d", kit);
         }},
        {"FIFO", [](const auto& kit) { ASSERT_EQ(mkfifo(kit.c_str(), 0600), 0); }},
        {"socket",
         [](const auto& kit) {
             const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             ASSERT_LT(kit.string().size(), sizeof address.sun_path);
             std::strcpy(address.sun_path, kit.c_str());
             ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
             close(fd);
         }},
        {"link to a device",
         [](const auto& kit) { std::filesystem::create_symlink("/dev/zero", kit); }},
    };
    for (const auto& [name, makeEntry] : cases) {
        ScratchDir dir;
        makeEntry(dir.path() / "Brevanto.kit");
        const ProcessResult result = runProcess(TALVERON_UPDATE_EXE, {}, dir.path());
        EXPECT_EQ(result.out, kBanner + transcript::notFound("Brevanto.kit") + kPrompt) << name;
        EXPECT_EQ(result.err, "") << name;
        EXPECT_EQ(result.exitStatus, 0) << name;
    }
}

TEST(RunTranscript, KitNameShowsEachControlCharacterAsAQuestionMark) {
    // The name as the file system has it, and as the console must show it: read as UTF-8, with
    // C0, DEL and C1 controls (U+0080 to U+009F, or a lone byte 0x80 to 0x9F) shown as '?'. The
    // file itself must still be found and opened by its real name.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Brevanto\n" + std::string(golden::kSuccess) + ".kit",
         "Brevanto?" + transcript::line(golden::kSuccess) + "?.kit"},
        {"Brevanto\x1b[8mhidden\x1b[0m.kit", "Brevanto?[8mhidden?[0m.kit"},
        {"Brevanto\x01\t\r\x1f\x7f.kit", "Brevanto?????.kit"},
        // Valid UTF-8 as it is: é, and € and an emoji, whose later bytes lie in 0x80 to 0x9F.
        {"Brevanto_\xc3\xa9.kit", "Brevanto_\xc3\xa9.kit"},
        {"Brevanto\xe2\x82\xac\xf0\x9f\x98\x80.kit", "Brevanto\xe2\x82\xac\xf0\x9f\x98\x80.kit"},
        // C1 controls in UTF-8, and lone bytes; U+00A0 and lone 0xA0 and 0xFF are no controls.
        {"Brevanto\xc2\x80\xc2\x9b[2J\xc2\x9f\xc2\xa0.kit", "Brevanto??[2J?\xc2\xa0.kit"},
        {"Brevanto\x80\x9b[2J\x9f\xa0\xff.kit", "Brevanto??[2J?\xa0\xff.kit"},
        // No valid sequence: a cut one, overlong forms, a surrogate. Each byte stands alone.
        {"Brevanto\xe2\x82.kit", "Brevanto\xe2?.kit"},
        {"Brevanto\xc1\x9b.kit", "Brevanto\xc1?.kit"},
        {"Brevanto\xe0\x82\x9b.kit", "Brevanto\xe0??.kit"},
        {"Brevanto\xed\xa0\x80.kit", "Brevanto\xed\xa0?.kit"},
    };
    for (const auto& [name, shown] : cases) {
        ScratchDir dir;
        dir.write(name, "00 05 01 02 03 FF FA\r\n");
        const ProcessResult opened = runProcess(TALVERON_UPDATE_EXE, {}, dir.path());
        EXPECT_EQ(opened.out, kBanner + transcript::opened(shown) + kUpgradeError + kPrompt)
            << shown;

        ScratchDir folder;
        std::filesystem::create_directory(folder.path() / name);
        const ProcessResult notFound = runProcess(TALVERON_UPDATE_EXE, {}, folder.path());
        EXPECT_EQ(notFound.out, kBanner + transcript::notFound(shown) + kPrompt) << shown;
    }
}

// An argument that is no option starts nothing: a user asking for help never flashes a device.
TEST(RunTranscript, ArgumentsThatAreNoOptionsAreRefused) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help", "x.kit"}, {"-h"}, {"/?"}, {"--list=yes"}, {"--port"}, {"--kit="}}) {
        ScratchDir dir;
        dir.write("Brevanto.kit", kitText(makeRecord({1})));
        const ProcessResult result = runProcess(TALVERON_UPDATE_EXE, args, dir.path());
        EXPECT_EQ(result.out, "") << args[0];
        EXPECT_EQ(result.exitStatus, 2) << args[0];
        EXPECT_NE(result.err.find("\nusage: talveron-update [options]\n"), std::string::npos)
            << args[0];
    }
}

// The usage is what --help prints, before anything is opened; the manual page names every
// option and exit status it does, so that the two cannot drift apart unseen.
TEST(RunTranscript, HelpPrintsTheUsageTheManualPageAgreesWith) {
    ScratchDir dir;
    dir.write("Brevanto.kit", kitText(makeRecord({1})));
    const ProcessResult help = runProcess(TALVERON_UPDATE_EXE, {"--help"}, dir.path());
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.err, "");
    ASSERT_EQ(help.out.rfind("usage: talveron-update [options]\n", 0), 0u);
    const ProcessResult version = runProcess(TALVERON_UPDATE_EXE, {"--version"}, dir.path());
    EXPECT_EQ(version.out, "talveron-update " TALVERON_VERSION_TEXT "\n");

    std::ifstream manFile(TALVERON_MAN_PAGE);
    const std::string man((std::istreambuf_iterator<char>(manFile)),
                          std::istreambuf_iterator<char>());
    ASSERT_FALSE(man.empty());
    for (size_t at = help.out.find("  --"); at != std::string::npos;
         at = help.out.find("  --", at + 1)) {
        const size_t end = help.out.find(' ', at + 2);
        std::string option = help.out.substr(at + 2, end - at - 2);
        // The manual page's roff writes each hyphen as \-.
        std::string roff;
        for (char c : option) roff += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_TRUE(man.find(".B " + roff) != std::string::npos ||
                    man.find(".BI " + roff) != std::string::npos)
            << option;
    }
    for (const char* status : {".B 0\nupdated", ".B 3\nkit file not found", ".B 4\nno MIDI device",
                               ".B 5\ndevice not responding", ".B 6\nupdate failed"}) {
        EXPECT_NE(man.find(status), std::string::npos) << status;
    }
}

}  // namespace
