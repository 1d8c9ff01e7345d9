#pragma once

// Console texts of the image stages, used exactly as they stand.
constexpr const char* kMsgFileNotFound = "Error: File '%s' is not found.\n\n";
constexpr const char* kMsgFamilyNotFound = "Error: The fit file is not found.\n\n";
constexpr const char* kMsgFileOpen = "OK: File '%s' is open.\n";
constexpr const char* kMsgUpgradeFileError = "Error: The upgrade file is error!\n\n";
