#include "programInfo.h"

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
            out << "Error: unknown argument \"" << argv[k] << "\". " << program.name
                << " takes no arguments; see " << program.name << " --help.\n";
            out.flush();
            return 1;
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
