#pragma once
// The command line of a program with options: flags, options with a value
// ("-x VALUE", "--name VALUE" or "--name=VALUE") and plain arguments. Every
// mistake is a one-line InputError that points to the program's --help.
//
//     CommandLine line(arguments, "prepareTopography");
//     while (line.advance()) {
//         if (line.takeInfoOption(options.help, options.version)) continue;
//         if (line.argument == "-m" || line.argument == "--min-cells") options.minCells = line.positiveCount(line.value());
//         else if (line.isOption()) throw line.error("unknown option " + line.argument + ".");
//         else ... a plain argument ...
//     }

#include "inputError.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    std::vector<std::string> arguments;
    std::string program;
    std::size_t next = 0;
    std::string argument;                 // the current one, without an attached "=VALUE"
    std::optional<std::string> attached;  // the VALUE of "--name=VALUE"

    CommandLine(std::vector<std::string> args, std::string programName);

    // Moves to the next argument; false after the last one.
    bool advance();
    // Whether the current argument looks like an option ("-x", "--name").
    bool isOption() const;
    // Sets `help` for "-h"/"--help" and `version` for "--version"; false for any other argument.
    bool takeInfoOption(bool& help, bool& version) const;
    // The value of the current option: the attached one, else the next argument.
    std::string value();
    // A value of the current option as a whole number of at least 1.
    int32_t positiveCount(const std::string& text) const;
    // A thread count of at least 1; a count beyond any machine is taken as `most`.
    int threadCount(const std::string& text, int most) const;
    // A value of the current option as a finite number larger than zero.
    double positiveReal(const std::string& text) const;
    // "Error: WHAT Try PROGRAM --help.\n"
    InputError error(const std::string& what) const;
};

// The default thread count: every hardware thread, at most `most`.
int hardwareThreads(int most);
