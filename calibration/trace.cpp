#include "trace.h"

#include "inputError.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

InputError fileError(const std::string& path, const std::string& what) {
    return InputError("Error: " + path + " " + what + ": " + std::strerror(errno) + ".\n");
}

std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = line.find(',', from);
        fields.push_back(line.substr(from, comma - from));
        if (comma == std::string::npos) return fields;
        from = comma + 1;
    }
}

bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && !std::isnan(value);
}

// One evaluation line; false when it is not one.
bool parseLine(const std::string& line, int64_t number, const Calibration& c, Outcome& o) {
    const std::vector<std::string> f = fieldsOf(line);
    const std::size_t n = c.space.size();
    if (f.size() != 1 + n + c.gaugeCount + 2 || f[0] != std::to_string(number)) return false;
    o.values.assign(n, 0.0);
    o.scores.assign(c.gaugeCount, 0.0);
    for (std::size_t j = 0; j < n; ++j)
        if (!parseNumber(f[1 + j], o.values[j])) return false;
    for (std::size_t g = 0; g < c.gaugeCount; ++g)
        if (!parseNumber(f[1 + n + g], o.scores[g])) return false;
    if (!parseNumber(f[1 + n + c.gaugeCount], o.aggregate)) return false;
    const std::string& failed = f.back();
    if (failed != "0" && failed != "1") return false;
    o.failed = failed == "1";
    return true;
}

}  // namespace

std::string traceHeader(const Calibration& c) {
    std::string header = "# calibrateModel trace; configuration " + c.hash + "\nevaluation";
    for (const ParameterConfig& p : c.config.parameters) header += std::string(",") + kParamKeys[p.key];
    for (std::size_t e = 0; e < c.events.size(); ++e)
        for (std::size_t g = 0; g < c.events[e].gauges.size(); ++g) header += "," + scoreColumn(c, e, g);
    return header + ",aggregate,failed\n";
}

std::string traceLine(int64_t number, const Outcome& o) {
    std::string line = std::to_string(number);
    for (const double v : o.values) line += "," + exactText(v);
    for (const double s : o.scores) line += "," + exactText(s);
    return line + "," + exactText(o.aggregate) + (o.failed ? ",1\n" : ",0\n");
}

TraceContents readTrace(const std::string& path, const Calibration& c) {
    std::string text;
    if (!readWholeFile(path, text)) throw InputError("Error: the trace " + path + " cannot open.\n");
    TraceContents contents;
    const std::string header = traceHeader(c);
    const std::size_t firstEnd = text.find('\n');
    if (firstEnd == std::string::npos) return contents;  // made, never finished
    if (text.compare(0, firstEnd + 1, header, 0, header.find('\n') + 1) != 0) {
        throw InputError("Error: " + path + " is the trace of another configuration (its first line is \"" +
                         text.substr(0, firstEnd) + "\", this configuration's hash is " + c.hash +
                         "); remove it or write the results elsewhere with -o.\n");
    }
    if (text.size() < header.size() || text.compare(0, header.size(), header) != 0) {
        throw InputError("Error: " + path + ": the header line does not name this configuration's columns.\n");
    }
    contents.headerComplete = true;
    std::size_t at = header.size();
    int64_t number = 1;
    for (;;) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) break;  // nothing, or a line torn by a kill
        Outcome o;
        if (!parseLine(text.substr(at, end - at), number, c, o)) {
            throw InputError("Error: " + path + " line " + std::to_string(number + 2) +
                             " is not the line of evaluation " + std::to_string(number) + " of this configuration.\n");
        }
        if (number > c.config.evaluations) {
            throw InputError("Error: " + path + " holds more evaluations than the budget of " +
                             std::to_string(c.config.evaluations) + ".\n");
        }
        contents.outcomes.push_back(std::move(o));
        at = end + 1;
        ++number;
    }
    contents.completeBytes = at;
    return contents;
}

TraceWriter::~TraceWriter() {
    if (fd >= 0) ::close(fd);
}

void openTrace(TraceWriter& w, const std::string& path, const std::string& header, bool fresh, std::size_t keepBytes) {
    w.path = path;
    if (fresh) {
        const std::string part = path + ".part";
        const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) throw fileError(path, "cannot be made");
        const bool written = ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size()) &&
                             ::fsync(fd) == 0;
        ::close(fd);
        if (!written || std::rename(part.c_str(), path.c_str()) != 0) {
            std::remove(part.c_str());
            throw fileError(path, "cannot be written");
        }
    }
    w.fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    if (w.fd < 0) throw fileError(path, "cannot be opened for writing");
    if (!fresh && ::ftruncate(w.fd, static_cast<off_t>(keepBytes)) != 0) throw fileError(path, "cannot be cut back to its complete lines");
}

void appendTrace(TraceWriter& w, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(w.fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw fileError(w.path, "cannot be written");
        written += static_cast<std::size_t>(n);
    }
    if (::fdatasync(w.fd) != 0) throw fileError(w.path, "cannot be flushed to the disk");
}
