// winmm's device rules apart from any device: the edges where the emulated service and the Linux
// one used to differ, and the product name as the caps hold it.
#include "platform/winmm_face/winmm_model.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(WinmmModel, EdgesBothServicesShare) {
    // A caps structure shorter than ours gets what fits and nothing beyond it.
    MIDIINCAPSA caps{};
    std::strcpy(caps.szPname, "Brevanto MIDI");
    unsigned char out[sizeof caps + 4];
    std::memset(out, 0xAA, sizeof out);
    const UINT shortSize = offsetof(MIDIINCAPSA, szPname) + 4;
    EXPECT_EQ(winmm_model::copyCaps(caps, out, shortSize), MMSYSERR_NOERROR);
    EXPECT_EQ(std::memcmp(out + offsetof(MIDIINCAPSA, szPname), "Brev", 4), 0);
    EXPECT_EQ(out[shortSize], 0xAA);
    EXPECT_EQ(winmm_model::copyCaps(caps, nullptr, sizeof caps), MMSYSERR_INVALPARAM);

    // Only the kind of callback counts in the open flags: asking for status messages is no error.
    constexpr DWORD kStatusMessages = 0x00000020u;
    EXPECT_EQ(winmm_model::callbackType(CALLBACK_FUNCTION | kStatusMessages), CALLBACK_FUNCTION);
    EXPECT_EQ(winmm_model::callbackType(kStatusMessages), CALLBACK_NULL);

    // A header without a byte of buffer is refused already when prepared, In and Out alike.
    char byte = 0;
    MIDIHDR header{};
    header.lpData = &byte;
    EXPECT_EQ(winmm_model::prepareHeader(&header, sizeof header), MMSYSERR_INVALPARAM);
    header.dwBufferLength = 1;
    EXPECT_EQ(winmm_model::prepareHeader(&header, sizeof header - 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(winmm_model::prepareHeader(&header, sizeof header), MMSYSERR_NOERROR);
}

TEST(WinmmModel, ProductNameIsCutToWhatTheCapsHold) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"Brevanto:Brevanto MIDI 128:0", "Brevanto:Brevanto MIDI 128:0"},
        {std::string(31, 'a'), std::string(31, 'a')},
        {std::string(32, 'b'), std::string(31, 'b')},
        {"A very long client name:and an even longer port name 129:3",
         "A very long client name:and an "},
    };
    for (const auto& [port, expected] : cases) {
        CHAR productName[MAXPNAMELEN];
        std::memset(productName, 'x', sizeof productName);
        winmm_model::copyProductName(port, productName);
        EXPECT_EQ(std::string(productName), expected) << port;
        // Nothing of an earlier, longer name is left behind the terminator.
        for (size_t i = expected.size(); i < sizeof productName; ++i)
            EXPECT_EQ(productName[i], '\0') << port << " at " << i;
    }
}

}  // namespace
