package com.zkmoravelt.vokapi;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.function.BiFunction;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * Every record reaches Java with the values the C interface serves for it,
 * each in its own field: walked item by item over realistic recordings and
 * compared with the fixture program's list of the same items.
 */
class MarshallingTest {
    private static final List<BiFunction<Sample, Integer, Float>> POSITIONS = List.of(
            Sample::getPupilX, Sample::getPupilY, Sample::getHeadRefX, Sample::getHeadRefY, Sample::getPupilSize,
            Sample::getGazeX, Sample::getGazeY);
    private static final List<BiFunction<Sample, Integer, Float>> VELOCITIES = List.of(
            Sample::getGazeVelX, Sample::getGazeVelY, Sample::getHeadRefVelX, Sample::getHeadRefVelY,
            Sample::getPupilVelX, Sample::getPupilVelY, Sample::getFastGazeVelX, Sample::getFastGazeVelY,
            Sample::getFastHeadRefVelX, Sample::getFastHeadRefVelY, Sample::getFastPupilVelX,
            Sample::getFastPupilVelY);

    /** Reads the tokens of one line in order. */
    private static final class Tokens {
        private final String[] t;
        private int i = 1;

        Tokens(String[] t) {
            this.t = t;
        }

        long number() {
            return Long.parseLong(t[i++]);
        }

        int bits() {
            return Fixtures.floatBits(t[i++]);
        }

        String raw() {
            return t[i++];
        }

        boolean done() {
            return i == t.length;
        }
    }

    private static void assertFloat(int expectedBits, float actual, String what) {
        assertEquals(expectedBits, Float.floatToRawIntBits(actual),
                () -> what + ": expected " + Float.intBitsToFloat(expectedBits) + ", got " + actual);
    }

    private static void assertSample(String[] line, Sample s, String where) {
        Tokens t = new Tokens(line);
        long time = t.number();
        int flags = (int) t.number();
        double expectedTime = (flags & Sample.HALF_MILLISECOND) != 0 ? time + 0.5 : time;
        assertEquals(expectedTime, s.getTime(), where + " time");
        assertEquals(flags, s.getFlags(), where + " flags");
        for (int k = 0; k < POSITIONS.size(); ++k) {
            for (int eye = 0; eye < 2; ++eye) {
                assertFloat(t.bits(), POSITIONS.get(k).apply(s, eye), where + " position " + k + " eye " + eye);
            }
        }
        assertFloat(t.bits(), s.getResolutionX(), where + " resolutionX");
        assertFloat(t.bits(), s.getResolutionY(), where + " resolutionY");
        assertEquals(0, s.reservedWord, where + " the word after the resolution");
        assertEquals(t.number(), s.getInput(), where + " input");
        assertEquals(t.number(), s.getButtons(), where + " buttons");
        long headDataType = t.number();
        assertEquals(headDataType, s.getHeadDataType(), where + " headDataType");
        short[] head = s.getHeadData();
        assertEquals(8, head.length);
        for (int k = 0; k < 8; ++k) {
            assertEquals(t.number(), head[k], where + " headData " + k);
        }
        assertEquals(t.number(), s.getErrors(), where + " errors");
        for (int k = 0; k < VELOCITIES.size(); ++k) {
            for (int eye = 0; eye < 2; ++eye) {
                assertFloat(t.bits(), VELOCITIES.get(k).apply(s, eye), where + " velocity " + k + " eye " + eye);
            }
        }
        assertTrue(t.done(), where + " every value compared");
    }

    private static void assertEvent(String[] line, Event e, String where) {
        Tokens t = new Tokens(line);
        assertEquals(t.number(), e.getType(), where + " type");
        assertEquals(e.getType(), e.getItemType());
        assertEquals(t.number(), e.getTime(), where + " time");
        assertEquals(t.number(), e.getRead(), where + " read");
        assertEquals(t.number(), e.getEye(), where + " eye");
        assertEquals(t.number(), e.getStartTime(), where + " startTime");
        assertEquals(t.number(), e.getEndTime(), where + " endTime");
        float[] values = {e.getStartHeadRefX(), e.getStartHeadRefY(), e.getStartGazeX(), e.getStartGazeY(),
            e.getStartPupilSize(), e.getEndHeadRefX(), e.getEndHeadRefY(), e.getEndGazeX(), e.getEndGazeY(),
            e.getEndPupilSize(), e.getAvgHeadRefX(), e.getAvgHeadRefY(), e.getAvgGazeX(), e.getAvgGazeY(),
            e.getAvgPupilSize(), e.getAvgVelocity(), e.getPeakVelocity(), e.getStartVelocity(), e.getEndVelocity(),
            e.getStartResolutionX(), e.getEndResolutionX(), e.getStartResolutionY(), e.getEndResolutionY()};
        for (int k = 0; k < values.length; ++k) {
            assertFloat(t.bits(), values[k], where + " float " + k);
        }
        assertEquals(t.number(), e.getStatus(), where + " status");
        assertEquals(t.number(), e.getFlags(), where + " flags");
        assertEquals(t.number(), e.getInput(), where + " input");
        assertEquals(t.number(), e.getButtons(), where + " buttons");
        assertEquals(t.number(), e.getParsedBy(), where + " parsedBy");
        String text = new String(Fixtures.hexBytes(t.raw()), StandardCharsets.ISO_8859_1);
        // The generated texts are short ASCII lines, which reach Java unchanged.
        assertEquals(text, e.getMessage(), where + " message");
        assertTrue(t.done(), where + " every value compared");
    }

    private static void assertRecording(String[] line, RecordingInfo r, String where) {
        Tokens t = new Tokens(line);
        assertEquals(t.number(), r.getTime(), where + " time");
        assertEquals(t.number(), r.getState(), where + " state");
        assertEquals(t.number(), r.getRecordType(), where + " recordType");
        assertEquals(t.number(), r.getPupilType(), where + " pupilType");
        assertEquals(t.number(), r.getRecordingMode(), where + " recordingMode");
        assertEquals(t.number(), r.getFilterType(), where + " filterType");
        assertFloat(t.bits(), r.getSampleRate(), where + " sampleRate");
        assertEquals(t.number(), r.getPositionType(), where + " positionType");
        assertEquals(t.number(), r.getEye(), where + " eye");
        assertEquals(t.number(), r.getSampleFlags(), where + " sampleFlags");
        assertEquals(t.number(), r.getEventFlags(), where + " eventFlags");
        assertTrue(t.done(), where + " every value compared");
    }

    @ParameterizedTest
    @ValueSource(strings = {"walk", "left"})
    void everyItemReachesJavaAsTheCInterfaceServesIt(String name) throws IOException {
        Fixtures.Items expected = Fixtures.items(name);
        int halfMs = 0;
        int[] kinds = new int[3];
        try (VOK vok = VOK.open(Fixtures.path(name + ".vok"))) {
            assertEquals(expected.count, vok.getItemCount());
            int i = 0;
            for (int type = vok.getNextData(); type != 0; type = vok.getNextData(), ++i) {
                String[] line = expected.lines.get(i);
                String where = name + " item " + i;
                switch (line[0]) {
                    case "S": {
                        assertEquals(ItemType.SAMPLE_TYPE, type, where);
                        Sample s = new Sample();
                        vok.getFloatData(s, type);
                        assertSample(line, s, where);
                        halfMs += (s.getFlags() & Sample.HALF_MILLISECOND) != 0 ? 1 : 0;
                        ++kinds[0];
                        break;
                    }
                    case "E": {
                        Event e = new Event();
                        vok.getFloatData(e, type);
                        assertEvent(line, e, where);
                        assertEquals(type, e.getType(), where);
                        ++kinds[1];
                        break;
                    }
                    case "R": {
                        assertEquals(ItemType.RECORDING_INFO, type, where);
                        RecordingInfo r = new RecordingInfo();
                        vok.getFloatData(r, type);
                        assertRecording(line, r, where);
                        ++kinds[2];
                        break;
                    }
                    default:
                        throw new AssertionError(where + ": the C interface served no record");
                }
            }
            assertEquals(expected.lines.size(), i, "as many items as the C interface serves");
        }
        assertTrue(kinds[0] > 100 && kinds[1] > 10 && kinds[2] >= 2, "samples, events and recordings were compared");
        if (name.equals("walk")) {
            assertTrue(halfMs > 100, "the 2000 Hz recording has second samples of a millisecond");
        }
    }

    @Test
    void halfMillisecondSamplesAreHalfAMillisecondLater() throws IOException {
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            Sample previous = null;
            int checked = 0;
            for (Item item : vok.items()) {
                if (!(item instanceof Sample)) {
                    continue;
                }
                Sample s = (Sample) item;
                if ((s.getFlags() & Sample.HALF_MILLISECOND) != 0) {
                    assertEquals(0.5, s.getTime() - Math.floor(s.getTime()));
                    assertNotNull(previous);
                    assertEquals(Math.floor(s.getTime()), previous.getTime(), "the first sample of that millisecond");
                    ++checked;
                } else {
                    assertEquals(Math.floor(s.getTime()), s.getTime());
                }
                previous = s;
            }
            assertTrue(checked > 100);
        }
    }

    @Test
    void iterationServesEveryRecordInOrder() throws IOException {
        Fixtures.Items expected = Fixtures.items("walk");
        List<String> kinds = new ArrayList<>();
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            for (Item item : vok.items()) {
                kinds.add(item instanceof Sample ? "S" : item instanceof Event ? "E" : "R");
            }
            assertNull(vok.next(), "the end repeats");
        }
        List<String> wanted = new ArrayList<>();
        for (String[] line : expected.lines) {
            wanted.add(line[0]);
        }
        assertEquals(wanted, kinds);
    }

    @Test
    void aRecordOfTheWrongKindIsLeftUnfilled() throws IOException {
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            int type;
            do {
                type = vok.getNextData();
            } while (type != ItemType.SAMPLE_TYPE);
            Event e = new Event();
            vok.getFloatData(e, ItemType.MESSAGEEVENT);  // the current item is a sample
            assertFalse(e.filled);
            Event wrongClass = new Event();
            vok.getFloatData(wrongClass, ItemType.SAMPLE_TYPE);  // an Event has no Sample fill: cleared, not thrown
            assertFalse(wrongClass.filled);
            vok.getFloatData(null, ItemType.SAMPLE_TYPE);
            Sample s = new Sample();
            vok.getFloatData(s, ItemType.SAMPLE_TYPE);
            assertTrue(s.filled, "the call after the failures still works");
        }
    }

    /** A record class whose fill fails on the Java side. */
    static final class ThrowingRecording extends RecordingInfo {
        static void getFilledObject(RecordingInfo r, int time, byte state, byte recordType, byte pupilType,
                byte recordingMode, byte filterType, float sampleRate, byte positionType, byte eye, int sampleFlags,
                int eventFlags) {
            throw new IllegalStateException("a fill that fails in Java");
        }
    }

    @Test
    void anExceptionOfTheJavaSideDoesNotLeaveTheNativeMethod() throws IOException {
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            int type = vok.getNextData();
            assertEquals(ItemType.RECORDING_INFO, type);
            ThrowingRecording r = new ThrowingRecording();
            vok.getFloatData(r, type);  // returns normally: the exception was logged and cleared
            assertFalse(r.filled);
            assertTrue(vok.getNextData() != 0, "the walk goes on");
        }
    }
}
