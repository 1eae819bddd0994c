// The one guard of every exported C function: no exception crosses the C
// API.  A failure inside is logged ("%s\n" with its text) and the call
// answers its failure value instead.
#pragma once

#include <exception>
#include <utility>

#include "core/Log.h"

namespace vok {

template <typename T, typename Body>
T apiCall(T failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception& e) {
        log("%s\n", e.what());
    } catch (...) {
        log("%s\n", "Unknown error");
    }
    return failure;
}

// For the calls that answer nothing.
template <typename Body>
void apiCall(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (const std::exception& e) {
        log("%s\n", e.what());
    } catch (...) {
        log("%s\n", "Unknown error");
    }
}

}  // namespace vok
