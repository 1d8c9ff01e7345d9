#include "image/find_kit_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/transcript.h"

namespace {

char kitFileName[kKitFileNameSize];
uint8_t identityCode;

struct FindCase {
    const char* name;
    std::vector<std::string> files;
    StageResult result;
    std::string chosen;  // the kit file name on continue
    uint8_t identity;
    std::string out;
};

TEST(FindKitFile, FamilyPrefixAndFirstEntry) {
    const std::string& notFound = transcript::kKitNotFound;
    const std::string& notFit = transcript::kFitNotFound;
    const std::string longName = "Brevanto" + std::string(88, 'x') + ".kit";     // 100 characters
    const std::string longestName = "Brevanto" + std::string(87, 'x') + ".kit";  // 99 characters
    const std::vector<FindCase> cases = {
        {"no kit file", {"readme.txt", "kit"}, StageResult::kStop, "", 0, notFound},
        {"lower case prefix",
         {"brevanto_v2.kit"},
         StageResult::kContinue,
         "brevanto_v2.kit",
         0x33,
         ""},
        {"upper case name and extension",
         {"BREVANTO.KIT"},
         StageResult::kContinue,
         "BREVANTO.KIT",
         0x33,
         ""},
        {"name shorter than the prefix", {"Brevant.kit"}, StageResult::kStop, "", 0, notFit},
        {"other family", {"Sonora_v1.kit"}, StageResult::kStop, "", 0, notFit},
        {"first entry decides even if a later one fits",
         {"Alpha.kit", "Brevanto.kit"},
         StageResult::kStop,
         "",
         0,
         notFit},
        {"first in ascending order, case ignored",
         {"brevanto_b.kit", "Brevanto_A.kit"},
         StageResult::kContinue,
         "Brevanto_A.kit",
         0x33,
         ""},
        {"'_' comes after the letters, as NTFS orders names",
         {"Brevant_.kit", "Brevanto.kit"},
         StageResult::kContinue,
         "Brevanto.kit",
         0x33,
         ""},
        {"99-character name fits", {longestName}, StageResult::kContinue, longestName, 0x33, ""},
        {"100-character name is refused as not found",
         {longName},
         StageResult::kStop,
         "",
         0,
         notFound},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        for (const auto& file : c.files) dir.write(file, "00");
        CurrentDir inside(dir.path());
        kitFileName[0] = '\0';
        identityCode = 0x99;  // must be overwritten either way where a name was checked
        StdoutCapture capture;
        const StageResult result = findKitFile(kitFileName, identityCode);
        EXPECT_EQ(capture.text(), c.out) << c.name;
        EXPECT_EQ(result, c.result) << c.name;
        if (c.result == StageResult::kContinue) {
            EXPECT_EQ(std::string(kitFileName), c.chosen) << c.name;
        }
        if (c.out == notFit || c.result == StageResult::kContinue) {
            EXPECT_EQ(identityCode, c.identity) << c.name;
        }
    }
}

}  // namespace
