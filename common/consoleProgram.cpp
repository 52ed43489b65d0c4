#include "consoleProgram.h"

#include "inputError.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <iostream>
#include <new>
#include <stdexcept>
#include <streambuf>
#include <string>

namespace {

bool isBlank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

// Standard output as a model program's console: every byte goes on to the
// real standard output unchanged and in order, and the last line that is not
// blank is kept. A carriage return ends a line as a line feed does (the
// tools' progress lines end in one). This is the iostream library's own way to
// watch a stream, hence the one derived type of the toolkit.
class ConsoleRecorder : public std::streambuf {
public:
    explicit ConsoleRecorder(std::streambuf* target) : target_(target) { resetBuffer(); }
    std::streambuf* target() const { return target_; }
    std::string lastLine() const { return isBlank(current_) ? last_ : current_; }
    bool echoed = false;  // the stop has been told on standard error already

protected:
    int_type overflow(int_type c) override {
        if (!pass()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return pass() && target_->pubsync() == 0 ? 0 : -1; }

private:
    static constexpr std::size_t kLongestKeptLine = 4096;
    std::streambuf* target_;
    std::array<char, 8192> buffer_{};
    std::string current_, last_;

    void resetBuffer() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }

    // Hands the buffered bytes on, noting their lines.
    bool pass() {
        const std::streamsize count = pptr() - pbase();
        for (const char* p = pbase(); p != pptr(); ++p) note(*p);
        const bool passed = target_->sputn(pbase(), count) == count;
        resetBuffer();
        return passed;
    }
    void note(char c) {
        if (c == '\n' || c == '\r') {
            if (!isBlank(current_)) last_.swap(current_);
            current_.clear();
        } else if (current_.size() < kLongestKeptLine) {
            current_ += c;
        }
    }
};

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

int runConsoleProgram(const MainSequence& mainSequence, const char* outOfMemory) {
    std::ios::sync_with_stdio(false);
    int status = 1;
    std::string error;
    try {
        status = mainSequence(std::cout);
    } catch (const InputError& stop) {
        error = stop.message;
    } catch (const std::bad_alloc&) {
        error = outOfMemory;
    } catch (const std::length_error&) {  // a size beyond what any vector can hold
        error = outOfMemory;
    } catch (const std::exception& failure) {
        error = std::string("Error: ") + failure.what() + "\n";
    }
    std::cout.flush();  // the output so far comes before the error in a shared log
    tellOnStandardError(error);
    return status;
}

int runModelConsoleProgram(const MainSequence& mainSequence, const char* outOfMemory) {
    std::ios::sync_with_stdio(false);
    ConsoleRecorder console(std::cout.rdbuf());
    struct Restore {  // standard output gets its own buffer back however the frame is left
        ConsoleRecorder& recorder;
        ~Restore() {
            std::cout.flush();
            std::cout.rdbuf(recorder.target());
        }
    } restore{console};
    std::cout.rdbuf(&console);
    int status = 1;
    std::string stop;
    try {
        status = mainSequence(std::cout);
    } catch (const InputError& error) {
        stop = error.message;
    } catch (const std::bad_alloc&) {
        stop = outOfMemory;
    } catch (const std::length_error&) {  // a size beyond what any vector can hold
        stop = outOfMemory;
    }
    std::cout << stop;
    std::cout.flush();
    if (status != 0 && !console.echoed && standardOutputHidesStops()) {
        const std::string lines = stopLines(stop);
        tellOnStandardError(lines.empty() ? stopLines(console.lastLine()) : lines);
    }
    return status;
}

void echoStop(const std::ostream& console, std::string_view message) {
    auto* recorder = dynamic_cast<ConsoleRecorder*>(console.rdbuf());
    if (recorder == nullptr || recorder->echoed) return;
    recorder->echoed = true;
    if (standardOutputHidesStops()) tellOnStandardError(stopLines(message));
}
