#pragma once
// The other processes of a distributed run, as the stages see them: messages
// of bytes sent without waiting and collected by polling, and two steps that
// every process takes together. The transport behind them (MPI, or threads in
// the tests) is the caller's; a run of one process has no peers at all.
//
// Messages from one process to another arrive in the order they were sent.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Peers {
    int rank = 0;   // this process, 0 = the one that prints
    int ranks = 1;  // processes in the run

    // Sends `bytes` to process `to`; returns at once.
    std::function<void(int to, std::vector<char> bytes)> send;
    // Hands every message that has arrived to `deliver` (sender, bytes) and
    // moves the sends on; never waits. Called by one thread at a time.
    std::function<void(const std::function<void(int from, std::vector<char>& bytes)>& deliver)> poll;
    // Waits until every message sent from here has left.
    std::function<void()> flush;
    // Every process calls it with a value; each gets the smallest.
    std::function<int64_t(int64_t value)> minimum;
    // Every process calls it; each gets `text` of process `from`.
    std::function<std::string(int from, const std::string& text)> broadcast;
};

// Message kinds, the first byte of every message.
enum class PeerMessage : char {
    kSeries = 1,    // a finished cell's whole series, for the cells below it
    kSkipped = 2,   // a cell that was not computed after all: the run stops before it
    kEnds = 3,      // finished cells and their console text, for process 0
    kStop = 4,      // the first failing entry known so far
    kFinished = 5,  // a process has run all its cells and sent everything of the loop
    kValues = 6,    // a batch of finished cells' values for the discharge files, for process 0
    kState = 7,     // after the loop: a process's part of the state to save, for process 0
};

// Appends a value's bytes to a message, and reads them back.
template <typename T>
void putValue(std::vector<char>& bytes, const T& value) {
    const char* p = reinterpret_cast<const char*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof(T));
}

template <typename T>
T takeValue(const std::vector<char>& bytes, std::size_t& at) {
    T value;
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + sizeof(T)),
              reinterpret_cast<char*>(&value));
    at += sizeof(T);
    return value;
}

// One step of a distributed run's main sequence, taken by every process: runs
// `step`, then every process learns whether any stopped in it. If one did,
// all stop: process 0 throws the message of the first process that stopped
// (its own first), or std::bad_alloc if that one ran out of memory; the
// others throw an InputError with an empty message, printing nothing.
void agreeOrStop(Peers& peers, const std::function<void()>& step);

// Every process calls it with its text; process 0 gets every process's text in
// process order (its own first), the others an empty list.
std::vector<std::string> gatherAtFirst(Peers& peers, const std::string& text);
