#pragma once

// The sample Brevanto kit: a firmware-like image in valid records, as hex text, the same on every
// run, so that transcripts and wire logs can be compared. make-sample-kit writes it to a file; the
// page's demo takes it from the emulated device's module.
#include <string>

constexpr unsigned kSampleRecordOverhead = 4;  // length field and checksum
constexpr unsigned kSamplePayloadBytes = 256;  // a flash page per record, unless asked otherwise

// Exactly imageBytes bytes (at least kSampleRecordOverhead) in records of payloadBytes payload
// bytes (at least kSampleRecordOverhead), as upper-case hex, 32 bytes a line, each line ended by
// CR LF.
std::string sampleKitText(unsigned imageBytes, unsigned payloadBytes);
