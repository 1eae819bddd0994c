/* Compiles the exported header alone as C99 and checks its record layouts
 * against the offsets that declaration order and natural alignment give. */
#include "vokapi.h"

#include <stddef.h>
#include <stdio.h>

static int failures = 0;

#define EXPECT_EQ(actual, expected)                                            \
    do {                                                                      \
        if ((size_t)(actual) != (size_t)(expected)) {                         \
            printf("%s:%d: %s is %lu, expected %lu\n", __FILE__, __LINE__,     \
                   #actual, (unsigned long)(actual), (unsigned long)(expected)); \
            ++failures;                                                       \
        }                                                                     \
    } while (0)

int main(void) {
    /* Sample: u32, 7 float pairs, 2 floats, 12 float pairs, i16[8], 5 u16/i16, pad, u64 */
    EXPECT_EQ(offsetof(Sample, time), 0);
    EXPECT_EQ(offsetof(Sample, pupilX), 4);
    EXPECT_EQ(offsetof(Sample, pupilY), 12);
    EXPECT_EQ(offsetof(Sample, headRefX), 20);
    EXPECT_EQ(offsetof(Sample, headRefY), 28);
    EXPECT_EQ(offsetof(Sample, pupilSize), 36);
    EXPECT_EQ(offsetof(Sample, gazeX), 44);
    EXPECT_EQ(offsetof(Sample, gazeY), 52);
    EXPECT_EQ(offsetof(Sample, resolutionX), 60);
    EXPECT_EQ(offsetof(Sample, resolutionY), 64);
    EXPECT_EQ(offsetof(Sample, gazeVelX), 68);
    EXPECT_EQ(offsetof(Sample, gazeVelY), 76);
    EXPECT_EQ(offsetof(Sample, headRefVelX), 84);
    EXPECT_EQ(offsetof(Sample, headRefVelY), 92);
    EXPECT_EQ(offsetof(Sample, pupilVelX), 100);
    EXPECT_EQ(offsetof(Sample, pupilVelY), 108);
    EXPECT_EQ(offsetof(Sample, fastGazeVelX), 116);
    EXPECT_EQ(offsetof(Sample, fastGazeVelY), 124);
    EXPECT_EQ(offsetof(Sample, fastHeadRefVelX), 132);
    EXPECT_EQ(offsetof(Sample, fastHeadRefVelY), 140);
    EXPECT_EQ(offsetof(Sample, fastPupilVelX), 148);
    EXPECT_EQ(offsetof(Sample, fastPupilVelY), 156);
    EXPECT_EQ(offsetof(Sample, headData), 164);
    EXPECT_EQ(offsetof(Sample, flags), 180);
    EXPECT_EQ(offsetof(Sample, input), 182);
    EXPECT_EQ(offsetof(Sample, buttons), 184);
    EXPECT_EQ(offsetof(Sample, headDataType), 186);
    EXPECT_EQ(offsetof(Sample, errors), 188);
    EXPECT_EQ(offsetof(Sample, timeHalfMs), 192);
    EXPECT_EQ(sizeof(Sample), 200);

    EXPECT_EQ(offsetof(LString, length), 0);
    EXPECT_EQ(offsetof(LString, c), 2);

    EXPECT_EQ(offsetof(Event, time), 0);
    EXPECT_EQ(offsetof(Event, type), 4);
    EXPECT_EQ(offsetof(Event, read), 6);
    EXPECT_EQ(offsetof(Event, startTime), 8);
    EXPECT_EQ(offsetof(Event, endTime), 12);
    EXPECT_EQ(offsetof(Event, startHeadRefX), 16);
    EXPECT_EQ(offsetof(Event, startPupilSize), 32);
    EXPECT_EQ(offsetof(Event, endHeadRefX), 36);
    EXPECT_EQ(offsetof(Event, endPupilSize), 52);
    EXPECT_EQ(offsetof(Event, avgHeadRefX), 56);
    EXPECT_EQ(offsetof(Event, avgPupilSize), 72);
    EXPECT_EQ(offsetof(Event, avgVelocity), 76);
    EXPECT_EQ(offsetof(Event, peakVelocity), 80);
    EXPECT_EQ(offsetof(Event, startVelocity), 84);
    EXPECT_EQ(offsetof(Event, endVelocity), 88);
    EXPECT_EQ(offsetof(Event, startResolutionX), 92);
    EXPECT_EQ(offsetof(Event, endResolutionX), 96);
    EXPECT_EQ(offsetof(Event, startResolutionY), 100);
    EXPECT_EQ(offsetof(Event, endResolutionY), 104);
    EXPECT_EQ(offsetof(Event, eye), 108);
    EXPECT_EQ(offsetof(Event, status), 110);
    EXPECT_EQ(offsetof(Event, flags), 112);
    EXPECT_EQ(offsetof(Event, input), 114);
    EXPECT_EQ(offsetof(Event, buttons), 116);
    EXPECT_EQ(offsetof(Event, parsedBy), 118);
    EXPECT_EQ(offsetof(Event, message), 120);
    EXPECT_EQ(sizeof(Event), 128);

    EXPECT_EQ(offsetof(RecordingInfo, time), 0);
    EXPECT_EQ(offsetof(RecordingInfo, sampleRate), 4);
    EXPECT_EQ(offsetof(RecordingInfo, eventFlags), 8);
    EXPECT_EQ(offsetof(RecordingInfo, sampleFlags), 10);
    EXPECT_EQ(offsetof(RecordingInfo, state), 12);
    EXPECT_EQ(offsetof(RecordingInfo, recordType), 13);
    EXPECT_EQ(offsetof(RecordingInfo, pupilType), 14);
    EXPECT_EQ(offsetof(RecordingInfo, recordingMode), 15);
    EXPECT_EQ(offsetof(RecordingInfo, filterType), 16);
    EXPECT_EQ(offsetof(RecordingInfo, positionType), 17);
    EXPECT_EQ(offsetof(RecordingInfo, eye), 18);
    EXPECT_EQ(offsetof(RecordingInfo, timeHalfMs), 24);
    EXPECT_EQ(offsetof(RecordingInfo, rawScale), 32);
    EXPECT_EQ(offsetof(RecordingInfo, windowHeight), 36);
    EXPECT_EQ(offsetof(RecordingInfo, windowWidth), 40);
    EXPECT_EQ(offsetof(RecordingInfo, merged), 44);
    EXPECT_EQ(sizeof(RecordingInfo), 48);

    EXPECT_EQ(sizeof(FloatData), sizeof(Sample));
    EXPECT_EQ(offsetof(Trial, recording), 0);
    EXPECT_EQ(offsetof(Trial, duration), sizeof(void*));
    EXPECT_EQ(offsetof(Trial, startTime), sizeof(void*) + 4);
    EXPECT_EQ(offsetof(Trial, endTime), sizeof(void*) + 8);
    EXPECT_EQ(sizeof(BookMark), 4);

    EXPECT_EQ(SAMPLE_TYPE, 200);
    EXPECT_EQ(RECORDING_INFO, 30);
    EXPECT_EQ(INPUTEVENT, 28);

    if (failures == 0) printf("header layout: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
