package com.zkmoravelt.vokapi;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;

import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * Gaze positions mapped onto the display area that messages announce: the
 * display of 1000 by 800 pixels and the area (0, 0, 950, 760) widened by
 * 1/0.95 - 1 of its size on either side give x' = 1050 * x / 1000 - 50 and
 * y' = 840 * y / 800 - 40.
 */
class DisplayAreaTest {
    private static final float MISSING = Sample.MISSING_VALUE;
    private static final float ABSENT = Sample.ABSENT_VALUE;

    private static final class Walk {
        final List<Sample> samples = new ArrayList<>();
        Event fixationEnd;
    }

    private static Walk walk(VOK vok) {
        Walk w = new Walk();
        for (Item item : vok.items()) {
            if (item instanceof Sample) {
                w.samples.add((Sample) item);
            } else if (item instanceof Event && ((Event) item).getType() == ItemType.EFIX) {
                w.fixationEnd = (Event) item;
            }
        }
        return w;
    }

    private static void assertGaze(Sample s, float x, float y) {
        String at = "sample at " + s.getTime();
        assertEquals(x, s.getGazeX(Sample.LEFT), at);
        assertEquals(y, s.getGazeY(Sample.LEFT), at);
        assertEquals(ABSENT, s.getGazeX(Sample.RIGHT), at + ": the absent eye keeps its marker");
        assertEquals(ABSENT, s.getGazeY(Sample.RIGHT), at + ": the absent eye keeps its marker");
    }

    @Test
    void positionsFollowTheAnnouncedArea() throws IOException {
        try (VOK vok = new VOK(Fixtures.path("display.vok").toString(), 0, 1, 1, VOK.BINDING_DISPLAY_COORDS)) {
            Walk w = walk(vok);
            assertEquals(5, w.samples.size());
            assertGaze(w.samples.get(0), 500, 400);  // nothing announced
            assertGaze(w.samples.get(1), 500, 400);  // an area, but no display size yet
            assertGaze(w.samples.get(2), 475, 380);
            assertGaze(w.samples.get(3), MISSING, MISSING);  // missing stays missing
            assertGaze(w.samples.get(4), 500, 400);  // a display message that cannot be read
            assertNotNull(w.fixationEnd);
            assertEquals(475, w.fixationEnd.getStartGazeX());
            assertEquals(380, w.fixationEnd.getStartGazeY());
            assertEquals(1000, w.fixationEnd.getEndGazeX());
            assertEquals(800, w.fixationEnd.getEndGazeY());
            assertEquals(-50, w.fixationEnd.getAvgGazeX());
            assertEquals(-40, w.fixationEnd.getAvgGazeY());
        }
    }

    @Test
    void withoutTheOptionPositionsAreUnchanged() throws IOException {
        try (VOK vok = VOK.open(Fixtures.path("display.vok"))) {
            Walk w = walk(vok);
            assertGaze(w.samples.get(2), 500, 400);
            assertEquals(500, w.fixationEnd.getStartGazeX());
        }
    }

    @Test
    void everyOpenForgetsTheArea() throws IOException {
        try (VOK first = new VOK(Fixtures.path("display.vok").toString(), 0, 1, 1, VOK.BINDING_DISPLAY_COORDS)) {
            Sample third = null;
            for (int n = 0; n < 3;) {
                Item item = first.next();
                if (item instanceof Sample) {
                    third = (Sample) item;
                    ++n;
                }
            }
            assertGaze(third, 475, 380);
            try (VOK second = new VOK(Fixtures.path("display.vok").toString(), 0, 1, 1,
                    VOK.BINDING_DISPLAY_COORDS)) {
                assertEquals(0, second.peakItemIndex());
                Walk rest = walk(first);
                assertEquals(500, rest.fixationEnd.getStartGazeX(), "the area was reset by the second open");
                assertGaze(rest.samples.get(rest.samples.size() - 1), 500, 400);
            }
        }
    }
}
