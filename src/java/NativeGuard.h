// The one guard of every JNI entry point: no C++ exception reaches the Java
// virtual machine.  A failure inside is logged ("<method> failed: <text>\n")
// and the method answers its fallback value.
#pragma once

#include <jni.h>

#include <exception>
#include <utility>

#include "core/Log.h"
#include "java/JavaMarshalling.h"
#include "java/VOKX.h"

namespace vok::java {

inline void logNativeFailure(const char* method, const std::exception* e) {
    vok::log("%s failed: %s\n", method, e != nullptr ? e->what() : "unknown error");
}

template <typename T, typename Body>
T guarded(const char* method, T fallback, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception& e) {
        logNativeFailure(method, &e);
    } catch (...) {
        logNativeFailure(method, nullptr);
    }
    return fallback;
}

// For the methods that answer nothing.
template <typename Body>
void guarded(const char* method, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (const std::exception& e) {
        logNativeFailure(method, &e);
    } catch (...) {
        logNativeFailure(method, nullptr);
    }
}

// The open recording of a VOK object, or null.
inline VOKFile* fileOf(JNIEnv* env, jobject self) {
    VOKX* x = handleOf(env, self);
    return x != nullptr ? x->file() : nullptr;
}

}  // namespace vok::java
