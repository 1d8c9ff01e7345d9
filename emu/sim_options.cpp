#include "emu/sim_options.h"

#include <cerrno>
#include <cstdlib>

namespace emu {

const char* const kSimUsage =
    "usage: talveron-update-sim [options]\n"
    "Runs one update in the current directory against an emulated MIDI service and device.\n"
    "  --in-ports NAMES      MIDI In device names, comma-separated (default \"Brevanto MIDI\")\n"
    "  --out-ports NAMES     MIDI Out device names (default \"Microsoft GS Wavetable "
    "Synth,Brevanto MIDI\")\n"
    "  --device-port NAME    ports the device listens and answers on (default \"Brevanto "
    "MIDI\"; none: no device)\n"
    "  --identity CODE       reply to a probe (default 0x33; 0x15: still resetting)\n"
    "  --probes A|B|AB|none  probes the device answers (default AB)\n"
    "  --reply N=CODE[/K]    record N answered CODE (or none) on its first K attempts "
    "(repeatable)\n"
    "  --silent-from N       from record N on the device answers nothing\n"
    "  --busy-ms MS          every message keeps playing for MS milliseconds (default 0)\n"
    "  --link-rate BYTES     every message plays out at BYTES a second, one after another "
    "(3125: a MIDI cable)\n"
    "  --driver sync|async   midiOutLongMsg returns once the message has played out (sync) or "
    "at once (async, the default)\n"
    "  --unplug-after N      the device's Out port fails every message after the first N\n"
    "  --delay-ms MS         the device answers MS milliseconds late (default 0)\n"
    "  --late N=MS[/K]       record N answered MS milliseconds after it is complete on its "
    "first K attempts (repeatable: later ones go on with the next attempts)\n"
    "  --stray N=CODE[@MS]   MS ms (default 0) after the device has received its Nth message\n"
    "                        (probes and chunks counted from 1), F0 CODE F7 arrives on the MIDI\n"
    "                        In device too, answering nothing; CODE empty: F0 F7 (repeatable)\n"
    "  --repeat-reply N[@MS] the device's answer to its Nth message arrives again, MS ms\n"
    "                        (default 0) after the first (repeatable)\n"
    "  --wire-log FILE       every message an Out device accepted, as hex, one per line\n"
    "  --flashed FILE        what the device stored, written when the run ends\n"
    "  --virtual-time yes    pauses, the clock and the device's delays on a virtual clock: "
    "waits cost no real time\n"
    "and the options of talveron-update (see its --help): --list, --port, --in, --out, --kit,\n"
    "--exit-status, --version\n";

namespace {

constexpr long kMaxMilliseconds = 600000;
// Ten megabytes a second: far past any MIDI link, and a message still takes a nanosecond or more.
constexpr long kMaxLinkRate = 10000000;
constexpr long kMaxMessageNumber = 1000000000;

bool parseNumber(const std::string& text, long min, long max, long& value) {
    if (text.empty()) return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = text.c_str() + (hex ? 2 : 0);
    if (*digits == '\0' || *digits == '-' || *digits == '+' || *digits == ' ') return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(digits, &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || parsed < min || parsed > max) return false;
    value = parsed;
    return true;
}

bool parseCode(const std::string& text, int& code) {
    long value;
    if (!parseNumber(text, 0, 255, value)) return false;
    code = static_cast<int>(value);
    return true;
}

std::vector<std::string> splitNames(const std::string& text) {
    std::vector<std::string> names;
    if (text.empty()) return names;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        names.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return names;
}

// N=VALUE[/K], as --reply and --late take it: the record, what it gets, on how many first attempts.
struct RecordSetting {
    int record;
    std::string value;
    int attempts = 1;
};

bool parseRecordSetting(const std::string& text, RecordSetting& setting) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    long record;
    if (!parseNumber(text.substr(0, equals), 1, 65535, record)) return false;
    setting.record = static_cast<int>(record);
    setting.value = text.substr(equals + 1);
    const size_t slash = setting.value.find('/');
    if (slash != std::string::npos) {
        long attempts;
        if (!parseNumber(setting.value.substr(slash + 1), 1, 255, attempts)) return false;
        setting.attempts = static_cast<int>(attempts);
        setting.value = setting.value.substr(0, slash);
    }
    return true;
}

// N=CODE[/K]
bool parseReply(const std::string& text, DeviceScript& script) {
    RecordSetting setting;
    if (!parseRecordSetting(text, setting)) return false;
    ScriptedReply reply;
    reply.attempts = setting.attempts;
    if (setting.value == "none") {
        reply.code = kNoAnswer;
    } else if (!parseCode(setting.value, reply.code)) {
        return false;
    }
    script.replies[setting.record].push_back(reply);
    return true;
}

// N=MS[/K]; several for one record follow one another over its attempts, as --reply's do.
bool parseLate(const std::string& text, DeviceScript& script) {
    RecordSetting setting;
    long delay;
    if (!parseRecordSetting(text, setting) ||
        !parseNumber(setting.value, 0, kMaxMilliseconds, delay))
        return false;
    script.late[setting.record].push_back(LateAnswer{static_cast<int>(delay), setting.attempts});
    return true;
}

// Splits "VALUE[@MS]"; the delay is 0 without the @.
bool splitDelay(const std::string& text, std::string& value, int& delayMs) {
    const size_t at = text.find('@');
    value = text.substr(0, at);
    delayMs = 0;
    if (at == std::string::npos) return true;
    long delay;
    if (!parseNumber(text.substr(at + 1), 0, kMaxMilliseconds, delay)) return false;
    delayMs = static_cast<int>(delay);
    return true;
}

// N=CODE[@MS], CODE a byte or "empty"
bool parseStray(const std::string& text, LinkNoise& noise) {
    const size_t equals = text.find('=');
    long message;
    std::string code;
    int delayMs;
    if (equals == std::string::npos ||
        !parseNumber(text.substr(0, equals), 1, kMaxMessageNumber, message) ||
        !splitDelay(text.substr(equals + 1), code, delayMs))
        return false;
    int value = kEmptyStray;
    if (code != "empty" && !parseCode(code, value)) return false;
    noise.strays.push_back(StrayMessage{message, value, delayMs});
    return true;
}

// N[@MS]
bool parseRepeatedReply(const std::string& text, LinkNoise& noise) {
    std::string number;
    int delayMs;
    long message;
    if (!splitDelay(text, number, delayMs) || !parseNumber(number, 1, kMaxMessageNumber, message))
        return false;
    noise.repeats.push_back(RepeatedReply{message, delayMs});
    return true;
}

bool applyOption(const std::string& name, const std::string& value, SimOptions& o) {
    long number;
    if (name == "--in-ports") {
        o.inPorts = splitNames(value);
    } else if (name == "--out-ports") {
        o.outPorts = splitNames(value);
    } else if (name == "--device-port") {
        if (value.empty()) return false;
        o.devicePort = value;
    } else if (name == "--identity") {
        int code;
        if (!parseCode(value, code)) return false;
        o.script.identity = static_cast<uint8_t>(code);
    } else if (name == "--probes") {
        if (value != "A" && value != "B" && value != "AB" && value != "none") return false;
        o.script.answersProbeA = value == "A" || value == "AB";
        o.script.answersProbeB = value == "B" || value == "AB";
    } else if (name == "--reply") {
        return parseReply(value, o.script);
    } else if (name == "--silent-from") {
        if (!parseNumber(value, 1, 65535, number)) return false;
        o.script.silentFrom = static_cast<int>(number);
    } else if (name == "--busy-ms") {
        if (!parseNumber(value, 0, kMaxMilliseconds, number)) return false;
        o.busyMs = static_cast<int>(number);
    } else if (name == "--link-rate") {
        if (!parseNumber(value, 1, kMaxLinkRate, number)) return false;
        o.linkRate = number;
    } else if (name == "--driver") {
        if (value != "sync" && value != "async") return false;
        o.driverSync = value == "sync";
    } else if (name == "--unplug-after") {
        if (!parseNumber(value, 0, kMaxMessageNumber, number)) return false;
        o.unplugAfter = number;
    } else if (name == "--delay-ms") {
        if (!parseNumber(value, 0, kMaxMilliseconds, number)) return false;
        o.delayMs = static_cast<int>(number);
    } else if (name == "--late") {
        return parseLate(value, o.script);
    } else if (name == "--stray") {
        return parseStray(value, o.noise);
    } else if (name == "--repeat-reply") {
        return parseRepeatedReply(value, o.noise);
    } else if (name == "--wire-log") {
        if (value.empty()) return false;
        o.wireLog = value;
    } else if (name == "--flashed") {
        if (value.empty()) return false;
        o.flashed = value;
    } else if (name == "--virtual-time") {
        if (value != "yes" && value != "no") return false;
        o.virtualTime = value == "yes";
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool takeOption(const std::vector<std::string>& args, size_t& i, std::string& name,
                std::string& value, std::string& error) {
    name = args[i];
    const size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
        value = name.substr(equals + 1);
        name = name.substr(0, equals);
        return true;
    }
    if (i + 1 < args.size()) {
        value = args[++i];
        return true;
    }
    error = "option " + name + " needs a value";
    return false;
}

bool parseSimOptions(const std::vector<std::string>& args, SimOptions& options,
                     std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name;
        std::string value;
        if (!takeOption(args, i, name, value, error)) return false;
        if (!applyOption(name, value, options)) {
            error = "bad option: " + name + " " + value;
            return false;
        }
    }
    return true;
}

}  // namespace emu
