#include "programInfo.h"

#include "inputError.h"

#include <ostream>

std::string versionLine(std::string_view programName) {
    std::string line(programName);
    line += ' ';
    line += toolkitVersion();
    const std::string_view revision = sourceRevision();
    if (!revision.empty()) {
        line += " (git ";
        line += revision;
        line += ')';
    }
    return line + '\n';
}

bool isHelpOption(std::string_view argument) { return argument == "-h" || argument == "--help"; }

bool isVersionOption(std::string_view argument) { return argument == "--version"; }

std::optional<int> answerProgramInfo(const ProgramInfo& program, int argc, const char* const* argv,
                                     std::ostream& out) {
    if (argc <= 1) return std::nullopt;
    for (int k = 1; k < argc; ++k) {
        if (!isHelpOption(argv[k]) && !isVersionOption(argv[k])) {
            const std::string name(program.name);
            throw InputError("Error: unknown argument \"" + std::string(argv[k]) + "\". " + name +
                             " takes no arguments; see " + name + " --help.\n");
        }
    }
    if (isHelpOption(argv[1])) {
        out << program.usage;
    } else {
        out << versionLine(program.name);
    }
    out.flush();
    return 0;
}
