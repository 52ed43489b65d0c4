#include "peers.h"

#include "inputError.h"

#include <new>
#include <stdexcept>

void agreeOrStop(Peers& peers, const std::function<void()>& step) {
    bool failed = false;
    std::string failure;  // 'E' and the message, or 'M' for memory
    try {
        step();
    } catch (const InputError& error) {
        failed = true;
        failure = "E" + error.message;
    } catch (const std::bad_alloc&) {
        failed = true;
        failure = "M";
    } catch (const std::length_error&) {
        failed = true;
        failure = "M";
    }
    const int64_t first = peers.minimum(failed ? peers.rank : INT64_MAX);
    if (first == INT64_MAX) return;
    const std::string text = peers.broadcast(static_cast<int>(first), failure);
    if (peers.rank != 0) throw InputError("");
    if (text == "M") throw std::bad_alloc();
    throw InputError(text.substr(1));
}

std::vector<std::string> gatherAtFirst(Peers& peers, const std::string& text) {
    std::vector<std::string> texts;
    if (peers.rank == 0) texts.push_back(text);
    for (int from = 1; from < peers.ranks; ++from) {
        std::string got = peers.broadcast(from, peers.rank == from ? text : std::string());
        if (peers.rank == 0) texts.push_back(std::move(got));
    }
    return texts;
}
