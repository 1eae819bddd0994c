// The trial and bookmark methods of com.zkmoravelt.vokapi.VOK.  Trial
// navigation answers with the VOK object's trialObject, filled with the
// trial gone to, or null when the library call failed; bookmark methods
// pass the library's result through.
#include <jni.h>

#include <memory>

#include "core/Log.h"
#include "format/Preamble.h"
#include "java/JavaMarshalling.h"
#include "java/NativeGuard.h"
#include "java/VOKX.h"
#include "nav/VOKFile.h"

using namespace vok::java;

namespace {

// The result of a trial navigation call.
jobject trialOrNull(JNIEnv* env, jobject self, VOKFile* file, int result) {
    if (result == -1 || file == nullptr) return nullptr;
    return currentTrialObject(env, self, *file);
}

// Runs a bookmark call with the id a BookMark object holds; -1 without one.
template <typename Call>
jint withBookmark(JNIEnv* env, jobject self, jobject bookmark, Call call) {
    checkException(env, kAtBookmarkCall);
    VOKFile* file = fileOf(env, self);
    BookMark record{};
    if (file == nullptr || !bookmarkOf(env, bookmark, record)) return -1;
    return call(file, &record);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_setTrialIdentifiers(JNIEnv* env, jobject self,
                                                                          jstring start, jstring end) {
    return guarded("setTrialIdentifiers", jint{0}, [&]() -> jint {
        checkException(env, kAtSetTrialIdentifiers);
        VOKX* handle = handleOf(env, self);
        if (handle == nullptr || handle->file() == nullptr) return 0;
        const int flag = vok::textEncodingFlag();
        // Empty strings give null: no identifier.
        std::unique_ptr<char[]> startText = javaToText(env, start, flag);
        std::unique_ptr<char[]> endText = javaToText(env, end, flag);
        checkException(env, kAtSetTrialIdentifiers);
        vok_set_trial_identifier(handle->file(), startText.get(), endText.get());
        // The recording holds the texts by pointer: they live as long as it
        // does, or until replaced.
        handle->keepTrialIdentifiers(std::move(startText), std::move(endText));
        return 0;
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_getTrialCount(JNIEnv* env, jobject self) {
    return guarded("getTrialCount", jint{0}, [&]() -> jint {
        checkException(env, kAtTrialNavigation);
        return vok_get_trial_count(fileOf(env, self));
    });
}

JNIEXPORT jobject JNICALL Java_com_zkmoravelt_vokapi_VOK_jumpToTrial(JNIEnv* env, jobject self, jint trial) {
    return guarded("jumpToTrial", static_cast<jobject>(nullptr), [&]() -> jobject {
        checkException(env, kAtTrialNavigation);
        VOKX* handle = handleOf(env, self);
        if (handle == nullptr || handle->file() == nullptr) return nullptr;
        // The stream continues elsewhere: a frame message waiting for this
        // place is no longer due.
        handle->playback().dropPendingFrameMessage();
        const int result = vok_jump_to_trial(handle->file(), trial);
        if (result == 0) handle->playback().videoNumber = static_cast<std::uint32_t>(trial);
        return trialOrNull(env, self, handle->file(), result);
    });
}

JNIEXPORT jobject JNICALL Java_com_zkmoravelt_vokapi_VOK_gotoPreviousTrial(JNIEnv* env, jobject self) {
    return guarded("gotoPreviousTrial", static_cast<jobject>(nullptr), [&]() -> jobject {
        checkException(env, kAtTrialNavigation);
        VOKFile* file = fileOf(env, self);
        return trialOrNull(env, self, file, vok_goto_previous_trial(file));
    });
}

JNIEXPORT jobject JNICALL Java_com_zkmoravelt_vokapi_VOK_gotoNextTrial(JNIEnv* env, jobject self) {
    return guarded("gotoNextTrial", static_cast<jobject>(nullptr), [&]() -> jobject {
        checkException(env, kAtTrialNavigation);
        VOKFile* file = fileOf(env, self);
        return trialOrNull(env, self, file, vok_goto_next_trial(file));
    });
}

JNIEXPORT jobject JNICALL Java_com_zkmoravelt_vokapi_VOK_gotoTrialWithStartTime(JNIEnv* env, jobject self,
                                                                                jint time) {
    return guarded("gotoTrialWithStartTime", static_cast<jobject>(nullptr), [&]() -> jobject {
        checkException(env, kAtTrialNavigation);
        VOKFile* file = fileOf(env, self);
        return trialOrNull(env, self, file,
                           vok_goto_trial_with_start_time(file, static_cast<unsigned int>(time)));
    });
}

JNIEXPORT jobject JNICALL Java_com_zkmoravelt_vokapi_VOK_gotoTrialWithEndTime(JNIEnv* env, jobject self,
                                                                              jint time) {
    return guarded("gotoTrialWithEndTime", static_cast<jobject>(nullptr), [&]() -> jobject {
        checkException(env, kAtTrialNavigation);
        VOKFile* file = fileOf(env, self);
        return trialOrNull(env, self, file,
                           vok_goto_trial_with_end_time(file, static_cast<unsigned int>(time)));
    });
}

JNIEXPORT jobject JNICALL Java_com_zkmoravelt_vokapi_VOK_setBookmark(JNIEnv* env, jobject self) {
    return guarded("setBookmark", static_cast<jobject>(nullptr), [&]() -> jobject {
        checkException(env, kAtSetBookmark);
        VOKFile* file = fileOf(env, self);
        BookMark record{};
        // No bookmark object for a position that is not one.
        if (file == nullptr || vok_set_bookmark(file, &record) != 0) return nullptr;
        jclass cls = env->FindClass(kBookMarkClassName);
        if (checkException(env, kAtSetBookmarkObject) || cls == nullptr) return nullptr;
        jmethodID constructor = env->GetMethodID(cls, "<init>", "(I)V");
        if (checkException(env, kAtSetBookmarkObject) || constructor == nullptr) {
            env->DeleteLocalRef(cls);
            return nullptr;
        }
        jobject bookmark = env->NewObject(cls, constructor, static_cast<jint>(record.id));
        env->DeleteLocalRef(cls);
        if (checkException(env, kAtSetBookmarkObject)) return nullptr;
        return bookmark;
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_freeBookmark(JNIEnv* env, jobject self,
                                                                   jobject bookmark) {
    return guarded("freeBookmark", jint{-1}, [&]() -> jint {
        return withBookmark(env, self, bookmark,
                            [](VOKFile* f, BookMark* b) { return vok_free_bookmark(f, b); });
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_gotoBookmark(JNIEnv* env, jobject self,
                                                                   jobject bookmark) {
    return guarded("gotoBookmark", jint{-1}, [&]() -> jint {
        return withBookmark(env, self, bookmark,
                            [](VOKFile* f, BookMark* b) { return vok_goto_bookmark(f, b); });
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_gotoNextBookmark(JNIEnv* env, jobject self) {
    return guarded("gotoNextBookmark", jint{-1}, [&]() -> jint {
        checkException(env, kAtBookmarkCall);
        VOKFile* file = fileOf(env, self);
        return file != nullptr ? vok_goto_next_bookmark(file) : -1;
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_gotoPreviousBookmark(JNIEnv* env, jobject self) {
    return guarded("gotoPreviousBookmark", jint{-1}, [&]() -> jint {
        checkException(env, kAtBookmarkCall);
        VOKFile* file = fileOf(env, self);
        return file != nullptr ? vok_goto_previous_bookmark(file) : -1;
    });
}

JNIEXPORT void JNICALL Java_com_zkmoravelt_vokapi_VOK_gotoIndex(JNIEnv* env, jobject self, jint position) {
    guarded("gotoIndex", 0, [&]() -> int {
        checkException(env, kAtGotoIndex);
        VOKX* handle = handleOf(env, self);
        if (handle == nullptr || handle->file() == nullptr) return 0;
        vok::gotoIndex(*handle->file(), position);
        // The video follows the trial the position lies in.
        handle->playback().videoNumber = static_cast<std::uint32_t>(handle->file()->trials.current);
        return 0;
    });
}

}  // extern "C"
