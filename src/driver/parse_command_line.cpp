#include "driver/parse_command_line.h"

#include <cstdio>
#include <cstring>

#include "common/console_text.h"

namespace {

// Each option sets one member: a flag, or a value.
struct OptionName {
    const char* name;
    bool RunOptions::*flag;          // null for an option with a value
    const char* RunOptions::*value;  // null for a flag
};

constexpr OptionName kOptions[] = {
    {"--help", &RunOptions::help, nullptr}, {"--version", &RunOptions::version, nullptr},
    {"--list", &RunOptions::list, nullptr}, {"--exit-status", &RunOptions::exitStatus, nullptr},
    {"--port", nullptr, &RunOptions::port}, {"--in", nullptr, &RunOptions::in},
    {"--out", nullptr, &RunOptions::out},   {"--kit", nullptr, &RunOptions::kit},
};

// The option an argument names, with its value after '=' if it has one; null when it names none.
const OptionName* findOption(const char* argument, const char*& inlineValue) {
    const char* equals = std::strchr(argument, '=');
    const size_t nameLength =
        equals != nullptr ? static_cast<size_t>(equals - argument) : std::strlen(argument);
    for (const OptionName& option : kOptions) {
        if (std::strlen(option.name) == nameLength &&
            std::strncmp(option.name, argument, nameLength) == 0) {
            inlineValue = equals != nullptr ? equals + 1 : nullptr;
            // A flag takes no value.
            return option.flag != nullptr && equals != nullptr ? nullptr : &option;
        }
    }
    return nullptr;
}

void refuse(const char* programName, ConsoleText why, const char* argument) {
    printCommandLineText(stderr, why, programName, argument);
    printCommandLineText(stderr, ConsoleText::kUsage, programName);
}

}  // namespace

bool parseCommandLine(const char* programName, int count, const char* const* arguments,
                      RunOptions& options) {
    options = RunOptions{};
    for (int i = 0; i < count; ++i) {
        const char* value = nullptr;
        const OptionName* option = findOption(arguments[i], value);
        if (option == nullptr) {
            refuse(programName, ConsoleText::kUnknownOption, arguments[i]);
            return false;
        }
        if (option->flag != nullptr) {
            options.*(option->flag) = true;
            continue;
        }
        if (value == nullptr) {
            if (i + 1 == count) {
                refuse(programName, ConsoleText::kOptionNeedsValue, option->name);
                return false;
            }
            value = arguments[++i];
        }
        // An empty name would fit every device, an empty path no file.
        if (value[0] == '\0') {
            refuse(programName, ConsoleText::kOptionNeedsValue, option->name);
            return false;
        }
        options.*(option->value) = value;
    }
    return true;
}

int runOptionArguments(const char* argument) {
    const char* value = nullptr;
    const OptionName* option = findOption(argument, value);
    if (option == nullptr) {
        return 0;
    }
    return option->flag == nullptr && value == nullptr ? 2 : 1;
}
