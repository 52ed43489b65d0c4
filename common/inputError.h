#pragma once
// An input error on its way to `main`: `message` is the exact console text
// (line ends included) that the program prints before it ends with status 1.
// Stages throw it instead of exiting so that they stay testable in-process.

#include <string>
#include <utility>

struct InputError {
    std::string message;
    explicit InputError(std::string text) : message(std::move(text)) {}
};

// The message style of the checks on input values: an empty line, the
// indented message, an empty line.
inline InputError boxedError(const std::string& text) {
    return InputError("\n    Error : " + text + "\n\n");
}
