#pragma once
// The common frame of the console programs: the main sequence runs on a
// buffered console (progress lines are many; each stage flushes its own), an
// input error prints its message and ends with status 1, and so does running
// out of memory, with `outOfMemory` as its message.

#include "inputError.h"

#include <iostream>
#include <new>
#include <stdexcept>

template <typename MainSequence>
int runConsoleProgram(MainSequence mainSequence, const char* outOfMemory) {
    std::ios::sync_with_stdio(false);
    int status = 1;
    try {
        status = mainSequence(std::cout);
    } catch (const InputError& error) {
        std::cout << error.message;
    } catch (const std::bad_alloc&) {
        std::cout << outOfMemory;
    } catch (const std::length_error&) {  // a size beyond what any vector can hold
        std::cout << outOfMemory;
    }
    std::cout.flush();
    return status;
}
