#include "consoleProgram.h"

#include "inputError.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <new>
#include <stdexcept>
#include <string>

namespace {

bool isBlank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

// The lines of `message` that are not blank, each without its indent and ended by a line end.
std::string stopLines(std::string_view message) {
    std::string lines;
    while (!message.empty()) {
        const std::size_t end = std::min(message.find_first_of("\r\n"), message.size());
        const std::string_view line = message.substr(0, end);
        if (!isBlank(line)) {
            lines += line.substr(line.find_first_not_of(" \t"));
            lines += '\n';
        }
        message.remove_prefix(std::min(end + 1, message.size()));
    }
    return lines;
}

// Whether standard output hides a stop from the user: it is not the terminal
// the program runs in, and not the file (or pipe) standard error writes to,
// where the stop is already. Only the controlling terminal counts: mpirun gives
// each process a terminal of its own for standard output, whatever its own
// standard output is, and that process has none.
bool standardOutputHidesStops() {
    if (::isatty(STDOUT_FILENO) == 1 && ::tcgetsid(STDOUT_FILENO) != -1) return false;
    struct stat out {}, err {};
    return !(::fstat(STDOUT_FILENO, &out) == 0 && ::fstat(STDERR_FILENO, &err) == 0 && out.st_dev == err.st_dev &&
             out.st_ino == err.st_ino);
}

void tellOnStandardError(const std::string& text) {
    if (text.empty()) return;
    std::cerr << text;
    std::cerr.flush();
}

}  // namespace

namespace {

// Runs the main sequence on standard output; returns its status and the
// message that stopped it, if any. The model's programs stop on their own
// errors only; the others also turn any other failure into a message.
struct Ending {
    int status = 1;
    std::string stop;
};
Ending runMainSequence(const MainSequence& mainSequence, const char* outOfMemory, bool anyFailure) {
    std::ios::sync_with_stdio(false);
    Ending ending;
    try {
        ending.status = mainSequence(std::cout);
    } catch (const InputError& error) {
        ending.stop = error.message;
    } catch (const std::bad_alloc&) {
        ending.stop = outOfMemory;
    } catch (const std::length_error&) {  // a size beyond what any vector can hold
        ending.stop = outOfMemory;
    } catch (const std::exception& failure) {
        if (!anyFailure) throw;
        ending.stop = std::string("Error: ") + failure.what() + "\n";
    }
    return ending;
}

}  // namespace

int runConsoleProgram(const MainSequence& mainSequence, const char* outOfMemory) {
    const Ending ending = runMainSequence(mainSequence, outOfMemory, true);
    std::cout.flush();  // the output so far comes before the error in a shared log
    tellOnStandardError(ending.stop);
    return ending.status;
}

int runModelConsoleProgram(const MainSequence& mainSequence, const char* outOfMemory) {
    const Ending ending = runMainSequence(mainSequence, outOfMemory, false);
    std::cout << ending.stop;
    std::cout.flush();
    if (ending.status != 0) echoStop(std::cout, ending.stop);
    return ending.status;
}

void echoStop(const std::ostream& console, std::string_view message) {
    // Once per program: a stop told before a wait is not told again at the end.
    static bool told = false;
    if (&console != &std::cout || told) return;
    const std::string lines = stopLines(message);
    if (lines.empty()) return;
    told = true;
    if (standardOutputHidesStops()) tellOnStandardError(lines);
}
