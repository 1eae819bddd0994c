// The native methods of com.zkmoravelt.vokapi.VOK (opening, walking,
// reading records, the cursor, video frames) and of DefaultOptionAdapter.
// Every method catches every C++ exception and clears every Java exception
// it meets; the one exception that leaves is the IOException of getVOKFile.
#include <jni.h>

#include <memory>
#include <vector>

#include "core/Log.h"
#include "java/DisplayArea.h"
#include "java/FloatFormat.h"
#include "java/JavaMarshalling.h"
#include "java/NativeGuard.h"
#include "java/VOKX.h"
#include "nav/VOKFile.h"
#include "java/VideoPort.h"

using namespace vok::java;

namespace {

constexpr const char* kOpenFailure = "Could not open VOK File or the VOK File is corrupt";

void throwOpenFailure(JNIEnv* env) {
    jclass cls = env->FindClass("java/io/IOException");
    if (cls == nullptr) return;  // the pending NoClassDefFoundError reports it
    env->ThrowNew(cls, kOpenFailure);
    env->DeleteLocalRef(cls);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_getVOKFile(JNIEnv* env, jobject self, jstring fileName,
                                                                 jint consistency, jint loadEvents,
                                                                 jint loadSamples, jint bindingOption) {
    bool thrown = false;
    const jint result = guarded("getVOKFile", jint{-1}, [&]() -> jint {
        checkException(env, kAtGetVOKFileStart);
        // The name as UTF-8, which every platform's open accepts.
        std::unique_ptr<char[]> name = javaToText(env, fileName, 1);
        checkException(env, kAtGetVOKFileName);
        int error = -1;
        std::unique_ptr<VOKX> handle;
        if (name != nullptr) {
            handle = std::make_unique<VOKX>(name.get(), consistency, loadEvents, loadSamples, bindingOption,
                                            &error);
        } else {
            vok::log("No file name given\n");
        }
        if (error < 0 || handle == nullptr || handle->file() == nullptr) {
            thrown = true;
            throwOpenFailure(env);
            return -1;
        }
        // A VOK object opened again gives up its previous recording, once
        // it holds the new one.
        VOKX* previous = handleOf(env, self);
        if (!setHandle(env, self, handle.get())) {
            thrown = true;
            throwOpenFailure(env);
            return -1;
        }
        handle.release();
        checkException(env, kAtGetVOKFileHandle);
        resetDisplayArea();
        delete previous;
        checkException(env, kAtGetVOKFileEnd);
        return 0;
    });
    if (result != 0 && !thrown && !env->ExceptionCheck()) throwOpenFailure(env);
    return result;
}

JNIEXPORT void JNICALL Java_com_zkmoravelt_vokapi_VOK_closeVOKFile(JNIEnv* env, jobject self) {
    guarded("closeVOKFile", [&] {
        checkException(env, kAtCloseVOKFile);
        VOKX* handle = handleOf(env, self);
        if (handle == nullptr) return;
        vok::log("releasing vok memory \n");
        vok::video::dropTable();
        // The field is cleared first, so a second close or any later call
        // finds no recording instead of freed memory.
        setHandle(env, self, nullptr);
        delete handle;
        checkException(env, kAtCloseVOKFile);
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_getNextData0(JNIEnv* env, jobject self) {
    return guarded("getNextData0", jint{0}, [&]() -> jint {
        checkException(env, kAtGetNextData);
        VOKX* handle = handleOf(env, self);
        return handle != nullptr ? handle->nextData() : 0;
    });
}

JNIEXPORT void JNICALL Java_com_zkmoravelt_vokapi_VOK_getFloatData(JNIEnv* env, jobject self, jobject record,
                                                                   jint type) {
    guarded("getFloatData", [&] {
        checkException(env, kAtGetFloatData);
        VOKX* handle = handleOf(env, self);
        if (handle == nullptr) return;
        const ItemForJava item = handle->prepareItem(type);
        const bool convert = handle->displayOption();
        switch (item.kind) {
            case ItemForJava::EventItem:
                fillEvent(env, record, *item.event, type, convert);
                break;
            case ItemForJava::SampleItem:
                fillSample(env, record, *item.sample, convert);
                break;
            case ItemForJava::RecordingItem:
                fillRecording(env, record, *item.recording);
                break;
            case ItemForJava::None:
                break;
        }
        checkException(env, kAtGetFloatData);
    });
}

JNIEXPORT jstring JNICALL Java_com_zkmoravelt_vokapi_VOK_getPreambleText(JNIEnv* env, jobject self) {
    return guarded("getPreambleText", static_cast<jstring>(nullptr), [&]() -> jstring {
        checkException(env, kAtGetPreambleText);
        VOKFile* file = fileOf(env, self);
        const int length = vok_get_preamble_text_length(file);
        if (length < 1) return textToJava(env, "", 0);
        std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
        vok_get_preamble_text(file, text.data(), length);
        return textToJava(env, text.data(), 0);
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_getRevision(JNIEnv* env, jobject self) {
    return guarded("getRevision", jint{-1}, [&]() -> jint {
        checkException(env, kAtGetRevision);
        return vok_get_revision(fileOf(env, self));
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_getItemCount(JNIEnv* env, jobject self) {
    return guarded("getItemCount", jint{0}, [&]() -> jint {
        checkException(env, kAtCursorCall);
        return static_cast<jint>(vok_get_element_count(fileOf(env, self)));
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_peakItemIndex(JNIEnv* env, jobject self) {
    return guarded("peakItemIndex", jint{-1}, [&]() -> jint {
        checkException(env, kAtCursorCall);
        VOKFile* file = fileOf(env, self);
        return file != nullptr ? vok::peakItemIndex(*file) : -1;
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_getInputType(JNIEnv* env, jobject self) {
    return guarded("getInputType", jint{0}, [&]() -> jint {
        checkException(env, kAtCursorCall);
        VOKFile* file = fileOf(env, self);
        return file != nullptr ? vok::getInputType(*file) : 0;
    });
}

JNIEXPORT jint JNICALL Java_com_zkmoravelt_vokapi_VOK_findFrameForVOKTime(JNIEnv* env, jobject,
                                                                          jint videoNumber, jint time) {
    return guarded("findFrameForVOKTime", jint{-1}, [&]() -> jint {
        checkException(env, kAtFindFrame);
        return vok::video::findFrameForRecordingTime(static_cast<std::uint32_t>(videoNumber),
                                                     static_cast<std::uint32_t>(time));
    });
}

JNIEXPORT jstring JNICALL Java_com_zkmoravelt_vokapi_DefaultOptionAdapter_getFloatValue0(JNIEnv* env, jobject,
                                                                                         jfloat value,
                                                                                         jint precision) {
    return guarded("getFloatValue0", static_cast<jstring>(nullptr), [&]() -> jstring {
        checkException(env, kAtGetFloatValue);
        char text[kFloatTextSize];
        formatFloatValue(value, precision, text);
        return textToJava(env, text, 0);
    });
}

}  // extern "C"
