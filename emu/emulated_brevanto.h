#pragma once

// An emulated Brevanto device: what it answers to each System Exclusive message the updater
// sends. It knows nothing of ports, so the emulated service and real MIDI ports can both carry it.
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace emu {

using Bytes = std::vector<uint8_t>;

constexpr int kNoAnswer = -1;

struct ScriptedReply {
    int code = kNoAnswer;  // reply code, or kNoAnswer for silence
    int attempts = 1;      // how many first attempts at the record get it
};

struct LateAnswer {
    int delayMs = 0;   // after the record is complete
    int attempts = 1;  // how many first attempts at the record are answered that late
};

struct DeviceScript {
    uint8_t identity = 0x33;  // answer to a probe; 0x15 plays a device still resetting
    bool answersProbeA = true;
    bool answersProbeB = true;
    // By record number, 1-based in image order; several replies for one record follow one
    // another over its attempts.
    std::map<int, std::vector<ScriptedReply>> replies;
    int silentFrom = 0;  // from this record on, no answer; 0 = never
    // By record number: attempts answered later than the device's usual delay; several for one
    // record follow one another over its attempts.
    std::map<int, std::vector<LateAnswer>> late;
};

class BrevantoDevice {
  public:
    static constexpr uint8_t kAcknowledged = 0x1A;
    static constexpr uint8_t kCrcError = 0x20;
    static constexpr uint8_t kDamaged = 0x21;

    explicit BrevantoDevice(DeviceScript script = {});

    // Takes one whole message (F0 ... F7); returns the reply message to send back, if any.
    std::optional<Bytes> receive(const Bytes& message);

    // The records acknowledged so far, concatenated: what the device would have flashed.
    const Bytes& flashed() const { return flashed_; }
    // How late the script has the answer receive() last returned come, if it says anything.
    std::optional<int> lateMs() const { return lateMs_; }

  private:
    std::optional<Bytes> answerRecord();
    // The scripted answer to this attempt at the current record, or kNotScripted.
    int scriptedCode() const;
    static constexpr int kNotScripted = -2;
    static int checksumVerdict(const Bytes& record);
    static Bytes reply(uint8_t code);

    DeviceScript script_;
    Bytes record_;          // bytes of the record being received
    int recordNumber_ = 1;  // of the record being received
    int attempt_ = 0;       // attempts at it so far
    Bytes flashed_;
    std::optional<int> lateMs_;
};

}  // namespace emu
