#include "java/JavaMarshalling.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/Log.h"
#include "format/Preamble.h"
#include "java/DisplayArea.h"
#include "java/MessageText.h"
#include "nav/Trials.h"
#include "platform/CodePage.h"

namespace vok::java {

namespace {

platform::TextEncoding encodingOf(int flag) {
    return flag > 0 ? platform::TextEncoding::Utf8 : platform::TextEncoding::SystemCodePage;
}

// Deletes a local reference at the end of a scope.
class LocalRef {
public:
    LocalRef(JNIEnv* env, jobject ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    jobject get() const { return ref_; }

private:
    JNIEnv* env_;
    jobject ref_;
};

jvalue intValue(std::int64_t v) {
    jvalue j;
    j.i = static_cast<jint>(static_cast<std::uint32_t>(v));
    return j;
}
jvalue shortValue(std::uint32_t v) {
    jvalue j;
    j.s = static_cast<jshort>(static_cast<std::uint16_t>(v));
    return j;
}
jvalue byteValue(std::uint8_t v) {
    jvalue j;
    j.b = static_cast<jbyte>(v);
    return j;
}
jvalue floatValue(float v) {
    jvalue j;
    j.f = v;
    return j;
}
jvalue doubleValue(double v) {
    jvalue j;
    j.d = v;
    return j;
}
jvalue objectValue(jobject v) {
    jvalue j;
    j.l = v;
    return j;
}

// A Java float[2] holding the two eyes' values; null (with an exception
// pending) when it cannot be made.
jfloatArray eyePair(JNIEnv* env, const float (&values)[2]) {
    jfloatArray a = env->NewFloatArray(2);
    if (a != nullptr) env->SetFloatArrayRegion(a, 0, 2, values);
    return a;
}

}  // namespace

bool checkException(JNIEnv* env, int place) {
    if (!env->ExceptionCheck()) return false;
    vok::log("Exception caught in native code at lint %d\n", place);
    env->ExceptionDescribe();
    env->ExceptionClear();
    return true;
}

VOKX* handleOf(JNIEnv* env, jobject vok) {
    if (vok == nullptr) return nullptr;
    LocalRef cls(env, env->GetObjectClass(vok));
    if (checkException(env, kAtHandleClass) || cls.get() == nullptr) return nullptr;
    jfieldID field = env->GetFieldID(static_cast<jclass>(cls.get()), "vokID", "J");
    if (checkException(env, kAtHandleField) || field == nullptr) return nullptr;
    const jlong address = env->GetLongField(vok, field);
    return reinterpret_cast<VOKX*>(static_cast<std::intptr_t>(address));
}

bool setHandle(JNIEnv* env, jobject vok, VOKX* handle) {
    if (vok == nullptr) return false;
    LocalRef cls(env, env->GetObjectClass(vok));
    if (checkException(env, kAtHandleClass) || cls.get() == nullptr) return false;
    jfieldID field = env->GetFieldID(static_cast<jclass>(cls.get()), "vokID", "J");
    if (checkException(env, kAtHandleField) || field == nullptr) return false;
    env->SetLongField(vok, field, static_cast<jlong>(reinterpret_cast<std::intptr_t>(handle)));
    return true;
}

void fillEvent(JNIEnv* env, jobject object, Event& e, int requestedType, bool convert) {
    if (object == nullptr) return;
    LocalRef cls(env, env->GetObjectClass(object));
    if (checkException(env, kAtEventClass) || cls.get() == nullptr) return;
    jmethodID method =
        env->GetStaticMethodID(static_cast<jclass>(cls.get()), "getFilledObject", kEventFillSignature);
    if (checkException(env, kAtEventMethod) || method == nullptr) return;
    if (requestedType != e.type) {
        vok::log("Types not matched \n");
        std::fflush(stdout);
    }
    if (e.message != nullptr) trimMessage(*e.message);
    LocalRef text(env, textToJava(env, e.message != nullptr ? e.message->c : "", textEncodingFlag()));
    if (checkException(env, kAtEventText)) return;

    const DisplayArea area = convert ? displayArea() : DisplayArea{};
    auto x = [convert, &area](float v) { return convert ? displayX(area, v) : v; };
    auto y = [convert, &area](float v) { return convert ? displayY(area, v) : v; };
    const jvalue args[] = {
        objectValue(object),
        intValue(e.time),
        shortValue(static_cast<std::uint16_t>(e.type)),
        shortValue(e.read),
        shortValue(static_cast<std::uint16_t>(e.eye)),
        intValue(e.startTime),
        intValue(e.endTime),
        floatValue(e.startHeadRefX),
        floatValue(e.startHeadRefY),
        floatValue(x(e.startGazeX)),
        floatValue(y(e.startGazeY)),
        floatValue(e.startPupilSize),
        floatValue(e.endHeadRefX),
        floatValue(e.endHeadRefY),
        floatValue(x(e.endGazeX)),
        floatValue(y(e.endGazeY)),
        floatValue(e.endPupilSize),
        floatValue(e.avgHeadRefX),
        floatValue(e.avgHeadRefY),
        floatValue(x(e.avgGazeX)),
        floatValue(y(e.avgGazeY)),
        floatValue(e.avgPupilSize),
        floatValue(e.avgVelocity),
        floatValue(e.peakVelocity),
        floatValue(e.startVelocity),
        floatValue(e.endVelocity),
        floatValue(e.startResolutionX),
        floatValue(e.endResolutionX),
        floatValue(e.startResolutionY),
        floatValue(e.endResolutionY),
        shortValue(e.status),
        shortValue(e.flags),
        shortValue(e.input),
        shortValue(e.buttons),
        shortValue(e.parsedBy),
        objectValue(text.get()),
    };
    static_assert(sizeof args / sizeof args[0] == 36, "the Event fill takes 36 arguments");
    env->CallStaticVoidMethodA(static_cast<jclass>(cls.get()), method, args);
    checkException(env, kAtEventCall);
}

void fillSample(JNIEnv* env, jobject object, const Sample& s, bool convert) {
    if (object == nullptr) return;
    // Twenty arrays and a class: more local references than a native method
    // is given by default.
    if (env->PushLocalFrame(32) != 0) {
        checkException(env, kAtSampleFrame);
        return;
    }
    struct FramePopper {
        JNIEnv* env;
        ~FramePopper() { env->PopLocalFrame(nullptr); }
    } popper{env};

    jclass cls = env->GetObjectClass(object);
    if (checkException(env, kAtSampleClass) || cls == nullptr) return;
    jmethodID method = env->GetStaticMethodID(cls, "getFilledObject", kSampleFillSignature);
    if (checkException(env, kAtSampleMethod) || method == nullptr) return;

    float gazeX[2] = {s.gazeX[0], s.gazeX[1]};
    float gazeY[2] = {s.gazeY[0], s.gazeY[1]};
    if (convert) {
        const DisplayArea area = displayArea();
        for (int eye = 0; eye < 2; ++eye) {
            gazeX[eye] = displayX(area, gazeX[eye]);
            gazeY[eye] = displayY(area, gazeY[eye]);
        }
    }
    const float(*const pairs[])[2] = {
        &s.pupilX,          &s.pupilY,        &s.headRefX,      &s.headRefY,
        &s.pupilSize,       &gazeX,           &gazeY,           &s.gazeVelX,
        &s.gazeVelY,        &s.headRefVelX,   &s.headRefVelY,   &s.pupilVelX,
        &s.pupilVelY,       &s.fastGazeVelX,  &s.fastGazeVelY,  &s.fastHeadRefVelX,
        &s.fastHeadRefVelY, &s.fastPupilVelX, &s.fastPupilVelY,
    };
    constexpr int kPairs = sizeof pairs / sizeof pairs[0];
    static_assert(kPairs == 19, "seven position arrays and twelve velocity arrays");
    jfloatArray arrays[kPairs];
    for (int i = 0; i < kPairs; ++i) {
        arrays[i] = eyePair(env, *pairs[i]);
        if (checkException(env, kAtSampleArrays) || arrays[i] == nullptr) return;
    }
    jshortArray headData = env->NewShortArray(8);
    if (checkException(env, kAtSampleArrays) || headData == nullptr) return;
    env->SetShortArrayRegion(headData, 0, 8, s.headData);

    const double time = (s.flags & VOK_SAMPLE_HALFMS) != 0 ? s.time + 0.5 : static_cast<double>(s.time);
    const jvalue args[] = {
        objectValue(object),
        doubleValue(time),
        shortValue(s.flags),
        objectValue(arrays[0]),  // pupilX
        objectValue(arrays[1]),  // pupilY
        objectValue(arrays[2]),  // headRefX
        objectValue(arrays[3]),  // headRefY
        objectValue(arrays[4]),  // pupilSize
        objectValue(arrays[5]),  // gazeX
        objectValue(arrays[6]),  // gazeY
        floatValue(s.resolutionX),
        floatValue(s.resolutionY),
        shortValue(0),
        shortValue(s.input),
        shortValue(s.buttons),
        shortValue(static_cast<std::uint16_t>(s.headDataType)),
        objectValue(headData),
        shortValue(s.errors),
        objectValue(arrays[7]),
        objectValue(arrays[8]),
        objectValue(arrays[9]),
        objectValue(arrays[10]),
        objectValue(arrays[11]),
        objectValue(arrays[12]),
        objectValue(arrays[13]),
        objectValue(arrays[14]),
        objectValue(arrays[15]),
        objectValue(arrays[16]),
        objectValue(arrays[17]),
        objectValue(arrays[18]),
    };
    static_assert(sizeof args / sizeof args[0] == 30, "the Sample fill takes 30 arguments");
    env->CallStaticVoidMethodA(cls, method, args);
    checkException(env, kAtSampleCall);
}

void fillRecording(JNIEnv* env, jobject object, const RecordingInfo& r) {
    if (object == nullptr) return;
    LocalRef cls(env, env->GetObjectClass(object));
    if (checkException(env, kAtRecordingClass) || cls.get() == nullptr) return;
    jmethodID method =
        env->GetStaticMethodID(static_cast<jclass>(cls.get()), "getFilledObject", kRecordingFillSignature);
    if (checkException(env, kAtRecordingMethod) || method == nullptr) return;
    const jvalue args[] = {
        objectValue(object),     intValue(r.time),         byteValue(r.state),
        byteValue(r.recordType), byteValue(r.pupilType),   byteValue(r.recordingMode),
        byteValue(r.filterType), floatValue(r.sampleRate), byteValue(r.positionType),
        byteValue(r.eye),        intValue(r.sampleFlags),  intValue(r.eventFlags),
    };
    env->CallStaticVoidMethodA(static_cast<jclass>(cls.get()), method, args);
    checkException(env, kAtRecordingCall);
}

void fillTrial(JNIEnv* env, jobject vok, jobject trial, const TrialEntry& entry) {
    if (vok == nullptr || trial == nullptr) return;
    LocalRef vokClass(env, env->GetObjectClass(vok));
    if (checkException(env, kAtTrialRecordingField) || vokClass.get() == nullptr) return;
    jfieldID field = env->GetFieldID(static_cast<jclass>(vokClass.get()), "recordingObject",
                                     "Lcom/zkmoravelt/vokapi/RecordingInfo;");
    if (checkException(env, kAtTrialRecordingField) || field == nullptr) return;
    LocalRef recording(env, env->GetObjectField(vok, field));
    if (checkException(env, kAtTrialRecordingField)) return;
    // A trial without a recording passes none, rather than the values of an
    // earlier trial's.
    jobject recordingArg = nullptr;
    if (entry.recording != nullptr && recording.get() != nullptr) {
        fillRecording(env, recording.get(), *entry.recording);
        recordingArg = recording.get();
    }

    LocalRef cls(env, env->FindClass(kTrialClassName));
    if (checkException(env, kAtTrialClass) || cls.get() == nullptr) return;
    jmethodID method =
        env->GetStaticMethodID(static_cast<jclass>(cls.get()), "getFilledObject", kTrialFillSignature);
    if (checkException(env, kAtTrialMethod) || method == nullptr) return;
    const jvalue args[] = {
        objectValue(trial),        intValue(entry.startTime),  intValue(entry.endTime),
        objectValue(recordingArg), intValue(entry.startIndex), intValue(entry.endIndex),
    };
    env->CallStaticVoidMethodA(static_cast<jclass>(cls.get()), method, args);
    checkException(env, kAtTrialCall);
}

jobject currentTrialObject(JNIEnv* env, jobject vok, VOKFile& file) {
    const TrialEntry* entry = currentTrialEntry(file);
    if (entry == nullptr || vok == nullptr) return nullptr;
    LocalRef cls(env, env->GetObjectClass(vok));
    if (checkException(env, kAtTrialObjectField) || cls.get() == nullptr) return nullptr;
    jfieldID field =
        env->GetFieldID(static_cast<jclass>(cls.get()), "trialObject", "Lcom/zkmoravelt/vokapi/Trial;");
    if (checkException(env, kAtTrialObjectField) || field == nullptr) return nullptr;
    jobject trial = env->GetObjectField(vok, field);
    if (checkException(env, kAtTrialObjectField) || trial == nullptr) return nullptr;
    fillTrial(env, vok, trial, *entry);
    return trial;
}

bool bookmarkOf(JNIEnv* env, jobject bookmark, BookMark& out) {
    if (bookmark == nullptr) return false;
    LocalRef cls(env, env->GetObjectClass(bookmark));
    if (checkException(env, kAtBookmarkClass) || cls.get() == nullptr) return false;
    jfieldID field = env->GetFieldID(static_cast<jclass>(cls.get()), "bookmarkID", "I");
    if (checkException(env, kAtBookmarkField) || field == nullptr) return false;
    out.id = static_cast<std::uint32_t>(env->GetIntField(bookmark, field));
    return true;
}

jstring textToJava(JNIEnv* env, const char* text, int encodingFlag) {
    std::u16string units;
    if (text != nullptr && text[0] != '\0' &&
        platform::decodeToUtf16(text, encodingOf(encodingFlag), units) && !units.empty() &&
        units.size() <= static_cast<std::size_t>(INT32_MAX)) {
        jstring s =
            env->NewString(reinterpret_cast<const jchar*>(units.data()), static_cast<jsize>(units.size()));
        checkException(env, kAtTextToJava);
        if (s != nullptr) return s;
    }
    jstring empty = env->NewStringUTF("");
    checkException(env, kAtTextToJava);
    return empty;
}

std::unique_ptr<char[]> javaToText(JNIEnv* env, jstring text, int encodingFlag) {
    if (text == nullptr) return nullptr;
    const jsize n = env->GetStringLength(text);
    if (checkException(env, kAtJavaToText) || n <= 0) return nullptr;
    const jchar* chars = env->GetStringChars(text, nullptr);
    if (checkException(env, kAtJavaToText) || chars == nullptr) return nullptr;
    std::string bytes;
    const bool ok = platform::encodeFromUtf16(
        std::u16string_view(reinterpret_cast<const char16_t*>(chars), static_cast<std::size_t>(n)),
        encodingOf(encodingFlag), bytes);
    env->ReleaseStringChars(text, chars);
    if (!ok || bytes.empty()) return nullptr;
    auto result = std::make_unique<char[]>(bytes.size() + 1);
    std::memcpy(result.get(), bytes.data(), bytes.size());
    result[bytes.size()] = '\0';
    return result;
}

}  // namespace vok::java
