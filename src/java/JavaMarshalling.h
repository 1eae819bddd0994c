// Moving records between the library and the Java objects of the package
// com.zkmoravelt.vokapi.  The Java record classes are filled through their
// static getFilledObject methods; every JNI call is followed by a check that
// logs, describes and clears a pending Java exception, so that none reaches
// the caller of a native method.
#pragma once

#include <jni.h>

#include <memory>

#include "java/VOKX.h"
#include "nav/VOKFile.h"
#include "vokapi.h"

namespace vok::java {

// JNI signatures of the methods and fields the native code uses.
inline constexpr const char* kEventFillSignature =
    "(Lcom/zkmoravelt/vokapi/Event;ISSSIIFFFFFFFFFFFFFFFFFFFFFFFSSSSSLjava/lang/String;)V";
inline constexpr const char* kSampleFillSignature =
    "(Lcom/zkmoravelt/vokapi/Sample;DS[F[F[F[F[F[F[FFFSSSS[SS[F[F[F[F[F[F[F[F[F[F[F[F)V";
inline constexpr const char* kRecordingFillSignature = "(Lcom/zkmoravelt/vokapi/RecordingInfo;IBBBBBFBBII)V";
inline constexpr const char* kTrialFillSignature =
    "(Lcom/zkmoravelt/vokapi/Trial;IILcom/zkmoravelt/vokapi/RecordingInfo;II)V";
inline constexpr const char* kTrialClassName = "com/zkmoravelt/vokapi/Trial";
inline constexpr const char* kBookMarkClassName = "com/zkmoravelt/vokapi/BookMark";

// The places of the exception checks, as the log names them.
enum CheckPlace : int {
    kAtGetVOKFileStart = 1,
    kAtGetVOKFileName,
    kAtGetVOKFileHandle,
    kAtGetVOKFileEnd,
    kAtCloseVOKFile,
    kAtGetNextData,
    kAtGetFloatData,
    kAtGetPreambleText,
    kAtGetRevision,
    kAtSetTrialIdentifiers,
    kAtTrialNavigation,
    kAtSetBookmark,
    kAtSetBookmarkObject,
    kAtBookmarkCall,
    kAtGotoIndex,
    kAtCursorCall,
    kAtFindFrame,
    kAtGetFloatValue,
    kAtHandleClass = 101,
    kAtHandleField,
    kAtEventClass,
    kAtEventMethod,
    kAtEventText,
    kAtEventCall,
    kAtSampleFrame,
    kAtSampleClass,
    kAtSampleMethod,
    kAtSampleArrays,
    kAtSampleCall,
    kAtRecordingClass,
    kAtRecordingMethod,
    kAtRecordingCall,
    kAtTrialRecordingField,
    kAtTrialClass,
    kAtTrialMethod,
    kAtTrialCall,
    kAtTrialObjectField,
    kAtBookmarkClass,
    kAtBookmarkField,
    kAtTextToJava,
    kAtJavaToText,
};

// Logs "Exception caught in native code at lint %d\n" with place when a
// Java exception is pending, describes it and clears it.  True when there
// was one.
bool checkException(JNIEnv* env, int place);

// The VOKX whose address the VOK object's vokID field holds; null when the
// object holds none (never opened, or closed).
VOKX* handleOf(JNIEnv* env, jobject vok);
// Stores the address in the VOK object's vokID field; false when the
// object has no such field.
bool setHandle(JNIEnv* env, jobject vok, VOKX* handle);

// Fill the Java object through its class's getFilledObject.  With convert
// set, gaze positions are mapped onto the display area (DisplayArea.h).
// The event's message is trimmed in place (MessageText.h).
void fillEvent(JNIEnv* env, jobject object, Event& event, int requestedType, bool convert);
void fillSample(JNIEnv* env, jobject object, const Sample& sample, bool convert);
void fillRecording(JNIEnv* env, jobject object, const RecordingInfo& recording);

// Fills the Trial object trial from a trial list entry: the VOK object's
// recordingObject is filled with the trial's recording and passed along
// (null when the entry has none).
void fillTrial(JNIEnv* env, jobject vok, jobject trial, const TrialEntry& entry);

// The VOK object's trialObject filled with the file's current trial; null
// when there is no current trial.
jobject currentTrialObject(JNIEnv* env, jobject vok, VOKFile& file);

// The bookmark id held by a BookMark object; false for a null object.
bool bookmarkOf(JNIEnv* env, jobject bookmark, BookMark& out);

// A new Java string from a NUL-terminated text: UTF-8 when encodingFlag is
// above 0, else the system code page (CodePage.h).  An empty text, or one
// that cannot be converted, gives the empty string.  Null only when Java
// could not make the string (an exception is then pending).
jstring textToJava(JNIEnv* env, const char* text, int encodingFlag);

// A new NUL-terminated text from a Java string, in the encoding chosen as
// for textToJava; null for a null or empty string or one that cannot be
// converted.
std::unique_ptr<char[]> javaToText(JNIEnv* env, jstring text, int encodingFlag);

}  // namespace vok::java
