#pragma once
// --version and --help of the toolkit's programs.
//
// Every program answers
//   NAME --version   one line, "NAME VERSION", followed by " (git REVISION)"
//                    when it was built from a git checkout; REVISION is what
//                    `git describe --tags --always --dirty` said at build time
//                    (for example "v1.0.0-3-g1a2b3c4-dirty", or a bare commit
//                    id while no tag exists);
//   NAME --help      its usage, whose first line is "Usage: NAME ...";
// both on standard output and with exit status 0. These options never change
// what a program does without arguments. Nothing here reads the build or the
// source tree at run time: the version and the revision are compiled in.
//
// A program that takes no other arguments (the four discharge tools) answers
// them first thing in its main sequence (consoleProgram.h):
//
//     int main(int argc, char** argv) {
//         return runModelConsoleProgram([&](std::ostream& out) {
//             if (const std::optional<int> status = answerProgramInfo({"NAME", kUsage}, argc, argv, out)) {
//                 return *status;
//             }
//             ... the program as before ...
//         }, "Error: not enough memory for this grid.\n");
//     }
//
// With no arguments answerProgramInfo prints nothing and returns no status;
// any argument other than -h, --help and --version is refused with a one-line
// InputError (status 1 in the frame).
//
// A program with options of its own (prepareTopography, makeSampleBasin)
// tests each argument with isHelpOption and isVersionOption in its parser
// and prints its usage or versionLine(NAME), ending with status 0.

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

// The toolkit's version, "MAJOR.MINOR.PATCH": the CMake project version.
const char* toolkitVersion();

// `git describe --tags --always --dirty` of the checkout the program was built
// from, or "" when it was not built from a git checkout.
const char* sourceRevision();

// "NAME VERSION (git REVISION)\n", or "NAME VERSION\n" without a revision.
std::string versionLine(std::string_view programName);

// "-h" or "--help".
bool isHelpOption(std::string_view argument);

// "--version".
bool isVersionOption(std::string_view argument);

// A program's name as installed and its --help text, which starts with
// "Usage: " and the name and ends with a line end.
struct ProgramInfo {
    std::string_view name;
    std::string_view usage;
};

// For programs whose only arguments are --help and --version; argv[0] is the
// program's path. No arguments: prints nothing and returns std::nullopt (run
// the program). -h or --help: prints the usage and returns 0. --version:
// prints the version line and returns 0. Any other argument: prints an error
// naming it and returns 1. With several arguments, each must be one of the
// three; the first decides.
std::optional<int> answerProgramInfo(const ProgramInfo& program, int argc, const char* const* argv,
                                     std::ostream& out);
