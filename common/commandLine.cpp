#include "commandLine.h"

#include "programInfo.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <thread>
#include <utility>

CommandLine::CommandLine(std::vector<std::string> args, std::string programName)
    : arguments(std::move(args)), program(std::move(programName)) {}

bool CommandLine::advance() {
    if (next >= arguments.size()) return false;
    argument = arguments[next++];
    attached.reset();
    const std::size_t eq = argument.find('=');
    if (argument.rfind("--", 0) == 0 && eq != std::string::npos) {
        attached = argument.substr(eq + 1);
        argument.resize(eq);
    }
    return true;
}

bool CommandLine::takeInfoOption(bool& help, bool& version) const {
    if (isHelpOption(argument)) return help = true;
    if (isVersionOption(argument)) return version = true;
    return false;
}

bool CommandLine::isOption() const { return argument.size() > 1 && argument[0] == '-'; }

std::string CommandLine::value() {
    if (attached) {
        std::string v = std::move(*attached);
        attached.reset();
        return v;
    }
    if (next >= arguments.size()) throw error(argument + " needs a value.");
    return arguments[next++];
}

int32_t CommandLine::positiveCount(const std::string& text) const {
    int32_t count = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (ec != std::errc() || end != text.data() + text.size() || count < 1) {
        throw error(argument + " needs a whole number of at least 1, not \"" + text + "\".");
    }
    return count;
}

int CommandLine::threadCount(const std::string& text, int most) const {
    const bool huge = text.size() > 9 && text[0] != '0' && text.find_first_not_of("0123456789") == std::string::npos;
    return huge ? most : std::min<int>(positiveCount(text), most);
}

int hardwareThreads(int most) {
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware == 0 ? 1 : static_cast<int>(std::min<unsigned>(hardware, static_cast<unsigned>(most)));
}

double CommandLine::positiveReal(const std::string& text) const {
    double number = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || end != text.data() + text.size() || !(number > 0.0) || !std::isfinite(number)) {
        throw error(argument + " needs a number larger than zero, not \"" + text + "\".");
    }
    return number;
}

InputError CommandLine::error(const std::string& what) const {
    return InputError("Error: " + what + " Try " + program + " --help.\n");
}
