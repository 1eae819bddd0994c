package com.zkmoravelt.vokapi;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;

/**
 * Frame messages of the recorded videos: each recording block n has a video
 * "BASE n.avi" of 25 frames per second beside the recording; the library has
 * the converter (avi2vkt, on the search path) make the lookup tables and
 * inserts "!V VFRAME frame BASEn.avi" messages as the walk passes the
 * frames.
 */
class VideoTest {
    private static final int FRAME_MS = 40;
    private static final Pattern FRAME = Pattern.compile("!V VFRAME (\\d+) (.*)(\\d)\\.avi");

    /** What a walk with the video option saw. */
    static final class Walk {
        final List<Long> blockStarts = new ArrayList<>();
        final List<Event> frames = new ArrayList<>();
        /** Sample times before and after each frame message. */
        final List<double[]> around = new ArrayList<>();
        int items;
    }

    /** A directory with the recording under name and one video per block. */
    static Path recordingWithVideos(String name, int videos) throws IOException {
        Path dir = Fixtures.newDirectory("video");
        Path vok = dir.resolve(name + ".vok");
        Files.copy(Fixtures.path("video.vok"), vok);
        for (int n = 0; n < videos; ++n) {
            Files.write(dir.resolve(name + n + ".avi"), Fixtures.aviFile(FRAME_MS * 1000, 30));
        }
        return vok;
    }

    static Walk walk(VOK vok) {
        Walk w = new Walk();
        double lastSample = -1;
        Event pendingFrame = null;
        for (Item item : vok.items()) {
            ++w.items;
            if (item instanceof RecordingInfo && ((RecordingInfo) item).isStart()) {
                w.blockStarts.add(((RecordingInfo) item).getTime());
            } else if (item instanceof Event && ((Event) item).getMessage().startsWith("!V VFRAME")) {
                pendingFrame = (Event) item;
                w.frames.add(pendingFrame);
                w.around.add(new double[] {lastSample, Double.NaN});
            } else if (item instanceof Sample) {
                lastSample = ((Sample) item).getTime();
                if (pendingFrame != null) {
                    w.around.get(w.around.size() - 1)[1] = lastSample;
                    pendingFrame = null;
                }
            }
        }
        return w;
    }

    @Test
    void frameMessagesFollowTheVideosOfEachBlock() throws IOException {
        Path vok = recordingWithVideos("video", 2);
        Walk w;
        try (VOK v = new VOK(vok.toString(), 0, 1, 1, VOK.BINDING_VIDEO_FRAMES)) {
            w = walk(v);
        }
        assertEquals(2, w.blockStarts.size());
        assertTrue(Files.exists(vok.resolveSibling("video0.vkt")), "the converter made the first table");
        assertTrue(Files.exists(vok.resolveSibling("video1.vkt")), "and the second");
        int[] perVideo = new int[2];
        int[] lastFrame = {-1, -1};
        for (int i = 0; i < w.frames.size(); ++i) {
            Event e = w.frames.get(i);
            Matcher m = FRAME.matcher(e.getMessage());
            assertTrue(m.matches(), e.getMessage());
            int frame = Integer.parseInt(m.group(1));
            int video = Integer.parseInt(m.group(3));
            assertEquals("video", m.group(2));
            assertEquals(ItemType.MESSAGEEVENT, e.getType());
            assertTrue(frame > lastFrame[video], "frames go forward: " + e.getMessage());
            lastFrame[video] = frame;
            ++perVideo[video];
            // The message carries the time its frame is shown.
            assertEquals(w.blockStarts.get(video) + (long) frame * FRAME_MS, e.getStartTime(), e.getMessage());
            assertEquals(e.getStartTime(), e.getEndTime());
            // And it stands in the stream where that time is.
            double[] around = w.around.get(i);
            assertTrue(around[0] <= e.getStartTime(), e.getMessage() + " after the sample at " + around[0]);
            assertTrue(Double.isNaN(around[1]) || e.getStartTime() <= around[1],
                    e.getMessage() + " before the sample at " + around[1]);
        }
        // Each block lasts about a second: some 25 frames of 40 ms.
        assertTrue(perVideo[0] >= 20, "frames of video 0: " + perVideo[0]);
        assertTrue(perVideo[1] >= 20, "frames of video 1: " + perVideo[1]);

        try (VOK v = VOK.open(vok)) {
            // Closing the walk dropped the process-wide table.
            assertEquals(-1, v.findFrameForVOKTime(0, (int) (long) w.blockStarts.get(0)));
        }
    }

    @Test
    void framesAreFoundByTime() throws IOException {
        Path vok = recordingWithVideos("video", 2);
        try (VOK v = new VOK(vok.toString(), 0, 1, 1, VOK.BINDING_VIDEO_FRAMES)) {
            Walk w = walk(v);
            int start0 = (int) (long) w.blockStarts.get(0);
            int start1 = (int) (long) w.blockStarts.get(1);
            assertEquals(2, v.findFrameForVOKTime(1, start1 + 2 * FRAME_MS));
            assertEquals(10, v.findFrameForVOKTime(0, start0 + 10 * FRAME_MS), "the other video's table is loaded");
            assertEquals(11, v.findFrameForVOKTime(0, start0 + 11 * FRAME_MS + 3));
            assertEquals(-1, v.findFrameForVOKTime(0, start0 + 100 * FRAME_MS), "after the last frame");
            assertEquals(-1, v.findFrameForVOKTime(5, start0), "no table for that video");
        }
    }

    /** Steps and fills one item as a client would; returns its type and adds its record to seen. */
    private static int step(VOK v, List<Item> seen) {
        int type = v.getNextData();
        Item item = VOK.newRecord(type);
        if (item != null) {
            v.getFloatData(item, type);
            seen.add(item);
        }
        return type;
    }

    private static boolean isFrame(Item item) {
        return item instanceof Event && ((Event) item).getMessage().startsWith("!V VFRAME");
    }

    @Test
    void aJumpDropsTheFrameMessageDueAtTheOldPlace() throws IOException {
        Path vok = recordingWithVideos("video", 2);
        // Where in the first block a frame message is next: the number of
        // steps after which the walk serves one.
        int steps = 0;
        try (VOK v = new VOK(vok.toString(), 0, 1, 1, VOK.BINDING_VIDEO_FRAMES)) {
            List<Item> seen = new ArrayList<>();
            int frames = 0;
            while (step(v, seen) != 0) {
                if (isFrame(seen.get(seen.size() - 1)) && ++frames == 5) {
                    break;
                }
                ++steps;
            }
            assertEquals(5, frames);
        }
        try (VOK v = new VOK(vok.toString(), 0, 1, 1, VOK.BINDING_VIDEO_FRAMES)) {
            List<Item> seen = new ArrayList<>();
            for (int i = 0; i < steps; ++i) {
                step(v, seen);
            }
            // The fifth frame message of video 0 waits; the jump to the
            // second block's trial must not bring it along.
            assertNotNull(v.jumpToTrial(1));
            seen.clear();
            while (step(v, seen) != 0) {
                // walk the second block
            }
            assertTrue(seen.get(0) instanceof RecordingInfo, "the trial starts with its block: " + seen.get(0));
            List<String> frames = new ArrayList<>();
            for (Item item : seen) {
                if (isFrame(item)) {
                    frames.add(((Event) item).getMessage());
                }
            }
            assertTrue(frames.size() > 20);
            for (String f : frames) {
                assertTrue(f.endsWith(" video1.avi"), "after the jump the second block's video plays: " + f);
            }
        }
    }

    @Test
    void gotoIndexTakesTheVideoNumberOfThePositionsTrial() throws IOException {
        Path vok = recordingWithVideos("video", 2);
        try (VOK v = new VOK(vok.toString(), 0, 1, 1, VOK.BINDING_VIDEO_FRAMES)) {
            assertNotNull(v.jumpToTrial(1));  // video number 1
            v.gotoIndex(5);  // back into the first block's trial: video number 0
            // The walk passes the first block's end (video number 1) and
            // plays the second block with the second video; had the video
            // number stayed at 1, the end would make it 2, a video that
            // does not exist.
            Walk w = walk(v);
            assertEquals(1, w.blockStarts.size());
            assertTrue(w.frames.size() > 20, "frames: " + w.frames.size());
            for (Event e : w.frames) {
                assertTrue(e.getMessage().endsWith(" video1.avi"), e.getMessage());
            }
        }
    }

    @Test
    void withoutTheOptionThereAreNoFrameMessages() throws IOException {
        Path vok = recordingWithVideos("video", 2);
        try (VOK v = VOK.open(vok)) {
            assertTrue(walk(v).frames.isEmpty());
        }
        assertFalse(Files.exists(vok.resolveSibling("video0.vkt")), "no table was made");
    }

    @Test
    void theRecordingNameIsNeverReadByACommandInterpreter() throws IOException {
        Path vok = recordingWithVideos("v;touch x", 2);
        Walk w;
        try (VOK v = new VOK(vok.toString(), 0, 1, 1, VOK.BINDING_VIDEO_FRAMES)) {
            w = walk(v);
        }
        assertTrue(w.frames.size() > 20);
        assertEquals("!V VFRAME 0 v;touch x0.avi", w.frames.get(0).getMessage().replaceAll("VFRAME \\d+", "VFRAME 0"));
        try (Stream<Path> files = Files.list(vok.getParent())) {
            List<String> names = files.map(p -> p.getFileName().toString()).sorted().collect(Collectors.toList());
            assertFalse(names.contains("x"), "no command ran: " + names);
            assertTrue(names.contains("v;touch x0.vkt"), names.toString());
        }
    }

    @Test
    void aBaseNameTooLongForTheTableGivesNoFrames() throws IOException {
        Path vok = recordingWithVideos("a_base_name_over_19_chars", 2);
        try (VOK v = new VOK(vok.toString(), 0, 1, 1, VOK.BINDING_VIDEO_FRAMES)) {
            Walk w = walk(v);
            assertTrue(w.frames.isEmpty());
            assertEquals(v.getItemCount(), w.items, "every item was still served");
        }
    }
}
