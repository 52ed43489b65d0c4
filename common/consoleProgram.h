#pragma once
// The two frames of the toolkit's programs. Each runs a program's main
// sequence on a buffered standard output (progress lines are many; each stage
// flushes its own) and turns an input error (InputError) into its message and
// exit status 1; running out of memory does the same with `outOfMemory` as the
// message. The main sequence gets standard output as `out`, returns the exit
// status, and throws InputError for anything that stops it.
//
// runConsoleProgram: every program of the toolkit but the model's own (see
// below). Normal output goes to standard output, the message that stops the
// program to standard error, so `prog > result.txt` keeps the error on the
// terminal and `prog 2>/dev/null` keeps only the results. A new program's main:
//
//     int main(int argc, char** argv) {
//         const std::vector<std::string> args(argv + 1, argv + argc);
//         return runConsoleProgram(
//             [&](std::ostream& out) {
//                 const NewOptions options = parseNewOptions(args);  // throws InputError
//                 if (options.help) { out << newUsage(); return 0; }
//                 if (options.version) { out << versionLine("newProgram"); return 0; }
//                 return runNewProgram(options, out);  // results on out, errors thrown
//             },
//             "Error: not enough memory for this run.\n");
//     }
//
// runModelConsoleProgram: runoffSim, process 0 of runoffSimMpi and the four
// discharge tools, whose console is all on standard output, error messages
// included, as the model has always had it. When standard output is not a
// terminal (a log file, a pipe) and not the same file as standard error, a run
// that ends with status 1 also writes the message that stopped it to standard
// error, so `runoffSim > run.log` still shows on the terminal why it stopped.
// That message is the InputError's (its lines that are not blank, without
// their indent); a stop that is not an InputError tells its message with
// echoStop itself.

#include "inputError.h"

#include <functional>
#include <iostream>
#include <string_view>

using MainSequence = std::function<int(std::ostream& out)>;

int runConsoleProgram(const MainSequence& mainSequence, const char* outOfMemory);

int runModelConsoleProgram(const MainSequence& mainSequence, const char* outOfMemory);

// For a model program's stop that is not an InputError, or that does not end
// at once (one that waits for a key first): writes `message` to standard
// error as runModelConsoleProgram does for an InputError, now, and only if
// `console` is standard output (never for a console captured in a test). A
// program tells one stop at most; the frame then adds nothing.
void echoStop(const std::ostream& console, std::string_view message);
