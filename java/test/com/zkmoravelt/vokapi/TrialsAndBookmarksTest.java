package com.zkmoravelt.vokapi;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * Trials and bookmarks through the native methods, on the generated walk
 * recording: two recording blocks with two "TRIAL_START n" / "TRIAL_END n"
 * trials each.
 */
class TrialsAndBookmarksTest {
    /** Times of the recording starts and of the TRIAL_START messages, walked in Java. */
    private static final class Marks {
        final List<Long> blockStarts = new ArrayList<>();
        final List<Long> trialIds = new ArrayList<>();
    }

    private static Marks marks() throws IOException {
        Marks m = new Marks();
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            for (Item item : vok.items()) {
                if (item instanceof RecordingInfo && ((RecordingInfo) item).isStart()) {
                    m.blockStarts.add(((RecordingInfo) item).getTime());
                } else if (item instanceof Event && ((Event) item).getMessage().startsWith("TRIAL_START")) {
                    m.trialIds.add(((Event) item).getStartTime());
                }
            }
        }
        return m;
    }

    @Test
    void withoutIdentifiersEachBlockIsATrial() throws IOException {
        Marks m = marks();
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            assertEquals(2, vok.getTrialCount());
            Trial first = vok.jumpToTrial(0);
            assertNotNull(first);
            assertSame(first, vok.trialObject, "the VOK object's trial object is filled and returned");
            assertEquals(first.getStartIndex(), vok.peakItemIndex(), "the cursor is at the trial's first item");
            assertNotNull(first.getRecording());
            assertEquals(m.blockStarts.get(0), first.getRecording().getTime());
            assertTrue(first.getRecording().isStart());
            assertEquals(first.getEndTime() - first.getStartTime(), first.getDuration());
            Trial kept = first.copy();

            Trial second = vok.gotoNextTrial();
            assertSame(first, second);
            assertEquals(m.blockStarts.get(1), second.getRecording().getTime());
            assertNotSame(kept.getRecording(), second.getRecording());
            assertEquals(m.blockStarts.get(0), kept.getRecording().getTime(), "a copy keeps its values");

            int cursor = vok.peakItemIndex();
            assertNull(vok.gotoNextTrial(), "past the last trial");
            assertNull(vok.jumpToTrial(2));
            assertNull(vok.jumpToTrial(-1));
            assertEquals(cursor, vok.peakItemIndex(), "a failed jump leaves the cursor");

            assertEquals(kept.getStartTime(), vok.gotoPreviousTrial().getStartTime());
            assertNull(vok.gotoPreviousTrial(), "before the first trial");
            assertEquals(kept.getStartIndex(), vok.gotoTrialWithEndTime((int) kept.getEndTime()).getStartIndex());
            Trial secondKept = vok.jumpToTrial(1).copy();
            vok.jumpToTrial(0);
            assertEquals(secondKept.getStartIndex(),
                    vok.gotoTrialWithStartTime((int) secondKept.getStartTime()).getStartIndex());
            assertNull(vok.gotoTrialWithStartTime(12345));
            assertNull(vok.gotoTrialWithEndTime(12345));
        }
    }

    @Test
    void identifiersDelimitTrials() throws IOException {
        Marks m = marks();
        assertEquals(4, m.trialIds.size());
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            assertEquals(0, vok.setTrialIdentifiers("TRIAL_START", "TRIAL_END"));
            int count = vok.getTrialCount();
            assertTrue(count > 2, "trials begin at the messages, not only at the blocks: " + count);
            int messageTrials = 0;
            for (int i = 0; i < count; ++i) {
                Trial t = vok.jumpToTrial(i).copy();
                assertEquals(t.getStartIndex(), vok.peakItemIndex());
                int type = vok.getNextData();
                Item first = VOK.newRecord(type);
                vok.getFloatData(first, type);
                if (first instanceof Event) {
                    Event e = (Event) first;
                    assertTrue(e.getMessage().startsWith("TRIAL_START "), e.getMessage());
                    assertEquals(e.getStartTime(), t.getStartTime());
                    assertTrue(m.trialIds.contains(t.getStartTime()));
                    ++messageTrials;
                } else {
                    assertTrue(first instanceof RecordingInfo && ((RecordingInfo) first).isStart(),
                            "a trial that no message began starts with a block: " + first);
                    assertEquals(((RecordingInfo) first).getTime(), t.getStartTime());
                }
            }
            assertTrue(messageTrials >= 2, "trials begun by messages: " + messageTrials);
            // An empty identifier is none: the blocks are the trials again.
            vok.setTrialIdentifiers("", null);
            assertEquals(2, vok.getTrialCount());
            assertEquals(m.blockStarts.get(1), vok.jumpToTrial(1).getStartTime());
        }
    }

    @Test
    void gotoIndexFollowsTheTrialOfThePosition() throws IOException {
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            int secondStart = vok.jumpToTrial(1).getStartIndex();
            int firstStart = vok.jumpToTrial(0).getStartIndex();
            vok.gotoIndex(secondStart + 3);
            assertEquals(secondStart + 3, vok.peakItemIndex());
            Trial previous = vok.gotoPreviousTrial();
            assertNotNull(previous, "the current trial is the second one now");
            assertEquals(firstStart, previous.getStartIndex());
            assertEquals(firstStart, vok.peakItemIndex());
        }
    }

    @Test
    void bookmarksSaveAndRestoreTheCursor() throws IOException {
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            for (int i = 0; i < 5; ++i) {
                vok.getNextData();
            }
            BookMark five = vok.setBookmark();
            assertNotNull(five);
            assertEquals(5, five.getId());
            for (int i = 0; i < 20; ++i) {
                vok.getNextData();
            }
            BookMark later = vok.setBookmark();
            assertEquals(25, later.getId());
            assertEquals(0, vok.gotoBookmark(five));
            assertEquals(5, vok.peakItemIndex());
            assertEquals(0, vok.gotoNextBookmark());
            assertEquals(25, vok.peakItemIndex());
            assertEquals(-1, vok.gotoNextBookmark(), "no bookmark after the last");
            assertEquals(0, vok.gotoPreviousBookmark());
            assertEquals(5, vok.peakItemIndex());
            assertEquals(-1, vok.gotoBookmark(new BookMark(123456)), "not a bookmark of the file");
            assertEquals(-1, vok.gotoBookmark(null));
            assertEquals(0, vok.freeBookmark(five));
            assertEquals(-1, vok.freeBookmark(five), "already freed");
            assertEquals(-1, vok.gotoBookmark(five));
            assertEquals(0, vok.gotoBookmark(new BookMark(25)), "a bookmark is its position");

            vok.gotoIndex(vok.getItemCount() - 1);
            vok.getNextData();
            assertNull(vok.setBookmark(), "no bookmark past the last item");
        }
    }
}
