package com.zkmoravelt.vokapi;

import java.io.IOException;
import java.nio.file.Path;
import java.util.Iterator;
import java.util.NoSuchElementException;

/**
 * An open recording (".vok" file), read as one time-ordered stream of
 * items: {@link Sample}s, {@link Event}s and {@link RecordingInfo}s.
 *
 * <pre>{@code
 * try (VOK vok = VOK.open("rec.vok")) {
 *     for (Item item : vok.items()) {
 *         if (item instanceof Sample) { ... }
 *     }
 * }
 * }</pre>
 *
 * <p>Walking by hand: {@link #getNextData()} steps to the next item and
 * returns its type code ({@link ItemType}), 0 at the end;
 * {@link #getFloatData(Item, int)} then fills a record of that type. Trials
 * and bookmarks move the same cursor.
 *
 * <p>A VOK object is used by one thread at a time. Some state is shared by
 * all VOK objects of the process: the display area of
 * {@link #BINDING_DISPLAY_COORDS} (reset by every open), the text encoding
 * taken from the last recording opened, and the video frame table of
 * {@link #BINDING_VIDEO_FRAMES}.
 *
 * <p>Diagnostics of the native library go to standard output.
 */
public class VOK implements AutoCloseable {
    /** Binding option: none. */
    public static final int BINDING_NONE = 0;
    /**
     * Binding option: gaze positions are mapped onto the display area that
     * "DISPLAY_COORDS" and "DISPLAY_AREA_COORDS" messages announce.
     */
    public static final int BINDING_DISPLAY_COORDS = 1;
    /**
     * Binding option: "!V VFRAME frame nameN.avi" messages are inserted for
     * the frames of the recorded videos, found through lookup tables beside
     * the recording (made by the avi2vkt program when missing).
     */
    public static final int BINDING_VIDEO_FRAMES = 2;
    /** Binding option: both of the above. */
    public static final int BINDING_DISPLAY_AND_VIDEO = 3;

    /** Consistency: check the recording after loading. */
    public static final int CONSISTENCY_CHECK = 1;
    /** Consistency: check and repair. */
    public static final int CONSISTENCY_REPAIR = 2;
    /** Consistency flag: read errors end the recording instead of failing the open. */
    public static final int TOLERANT_READING = 0x04;
    /** Consistency flag: no time offset fixup. */
    public static final int NO_TIME_FIXUP = 0x08;
    /** Consistency flag: a number at the start of a message is a time offset. */
    public static final int MESSAGE_TIME_OFFSETS = 0x10;

    static {
        NativeLibrary.load();
    }

    /** Address of the native peer; 0 while no recording is open. */
    long vokID;
    /** The trial object the trial methods fill and return. */
    Trial trialObject = new Trial();
    /** The recording record of {@link #trialObject}. */
    RecordingInfo recordingObject = new RecordingInfo();

    /** A VOK object without a recording; open one with {@link #getVOKFile}. */
    public VOK() {}

    /**
     * Opens a recording.
     *
     * @param fileName      the recording's file name
     * @param consistency   0, {@link #CONSISTENCY_CHECK} or {@link #CONSISTENCY_REPAIR},
     *                      ored with {@link #TOLERANT_READING}, {@link #NO_TIME_FIXUP},
     *                      {@link #MESSAGE_TIME_OFFSETS}
     * @param loadEvents    0 keeps no events but block starts and ends, 1 all;
     *                      2 also merges the extra message file
     * @param loadSamples   0 keeps no samples, 1 all
     * @param bindingOption {@link #BINDING_NONE}, {@link #BINDING_DISPLAY_COORDS},
     *                      {@link #BINDING_VIDEO_FRAMES} or {@link #BINDING_DISPLAY_AND_VIDEO}
     * @throws IOException when the file cannot be opened or is not a recording
     */
    public VOK(String fileName, int consistency, int loadEvents, int loadSamples, int bindingOption)
            throws IOException {
        getVOKFile(fileName, consistency, loadEvents, loadSamples, bindingOption);
    }

    /** Opens a recording with all events and samples, no checks, no binding option. */
    public static VOK open(String fileName) throws IOException {
        return new VOK(fileName, 0, 1, 1, BINDING_NONE);
    }

    /** As {@link #open(String)}. */
    public static VOK open(Path file) throws IOException {
        return open(file.toString());
    }

    /** True while a recording is open. */
    public boolean isOpen() {
        return vokID != 0;
    }

    /** Closes the recording; further calls find no recording. Closing twice is harmless. */
    @Override
    public void close() {
        closeVOKFile();
    }

    // ---- walking ----

    /**
     * Steps to the next item.
     *
     * @return its type code ({@link ItemType}), 0 when there are no more items
     */
    public int getNextData() {
        return getNextData0();
    }

    /**
     * The next item as a filled record, or null at the end. Items whose
     * record cannot be read (the reason goes to the log) and items of codes
     * that are not served as records are passed over.
     */
    public Item next() {
        for (;;) {
            int type = getNextData0();
            if (type == 0) {
                return null;
            }
            Item item = newRecord(type);
            if (item == null) {
                continue;
            }
            getFloatData(item, type);
            if (isFilled(item)) {
                return item;
            }
        }
    }

    /** The items from the cursor on, as an iterable for a for-each loop. */
    public Iterable<Item> items() {
        return () -> new Iterator<Item>() {
            private Item ahead;
            private boolean done;

            @Override
            public boolean hasNext() {
                if (ahead == null && !done) {
                    ahead = VOK.this.next();
                    done = ahead == null;
                }
                return ahead != null;
            }

            @Override
            public Item next() {
                if (!hasNext()) {
                    throw new NoSuchElementException();
                }
                Item item = ahead;
                ahead = null;
                return item;
            }
        };
    }

    /** A new empty record for an item type code, or null for codes that are not served. */
    public static Item newRecord(int type) {
        if (ItemType.isEvent(type)) {
            return new Event();
        }
        if (type == ItemType.SAMPLE_TYPE) {
            return new Sample();
        }
        if (type == ItemType.RECORDING_INFO) {
            return new RecordingInfo();
        }
        return null;
    }

    private static boolean isFilled(Item item) {
        if (item instanceof Event) {
            return ((Event) item).filled;
        }
        if (item instanceof Sample) {
            return ((Sample) item).filled;
        }
        return ((RecordingInfo) item).filled;
    }

    // ---- native methods ----

    /**
     * Opens a recording into this object, giving up one opened before.
     *
     * @return 0
     * @throws IOException "Could not open VOK File or the VOK File is corrupt"
     * @see #VOK(String, int, int, int, int)
     */
    public native int getVOKFile(String fileName, int consistency, int loadEvents, int loadSamples,
            int bindingOption) throws IOException;

    /** Closes the recording and releases the native memory; the process-wide video table is dropped too. */
    public native void closeVOKFile();

    native int getNextData0();

    /**
     * Fills record with the item that {@link #getNextData()} returned.
     *
     * @param record an {@link Event} for event codes, a {@link Sample} for
     *               {@link ItemType#SAMPLE_TYPE}, a {@link RecordingInfo} for
     *               {@link ItemType#RECORDING_INFO}
     * @param type   the code {@link #getNextData()} returned
     */
    public native void getFloatData(Item record, int type);

    /** The preamble text, each line prefixed with "** "; empty when there is none. */
    public native String getPreambleText();

    /** The recording software revision from the preamble (0 when absent). */
    public native int getRevision();

    /**
     * Sets the trial identifiers: a trial runs from a message containing
     * start to a message containing end. Null or empty strings clear them;
     * without identifiers each recording block is a trial.
     *
     * @return 0
     */
    public native int setTrialIdentifiers(String start, String end);

    /** The number of trials. */
    public native int getTrialCount();

    /** Goes to the first item of trial number trial (from 0); null (nothing changed) when there is none. */
    public native Trial jumpToTrial(int trial);

    /** Goes to the trial before the current one; null when there is none. */
    public native Trial gotoPreviousTrial();

    /** Goes to the trial after the current one (the first right after opening); null when there is none. */
    public native Trial gotoNextTrial();

    /** Goes to the first trial that starts at time (ms); null when there is none. */
    public native Trial gotoTrialWithStartTime(int time);

    /** Goes to the first trial that ends at time (ms); null when there is none. */
    public native Trial gotoTrialWithEndTime(int time);

    /** Saves the cursor; null when the cursor is past the last item. */
    public native BookMark setBookmark();

    /** Forgets a bookmark; 0, or -1 when it is not a bookmark of this recording. */
    public native int freeBookmark(BookMark bookmark);

    /** Moves the cursor to a bookmark; 0, or -1 when it is not a bookmark of this recording. */
    public native int gotoBookmark(BookMark bookmark);

    /** Goes to the bookmark set after the current one; 0, or -1 when there is none. */
    public native int gotoNextBookmark();

    /** Goes to the bookmark set before the current one; 0, or -1 when there is none. */
    public native int gotoPreviousBookmark();

    /** Moves the cursor to an item position (positions outside the items are ignored). */
    public native void gotoIndex(int position);

    /** The number of items. */
    public native int getItemCount();

    /** The cursor: the position of the item the next step returns. */
    public native int peakItemIndex();

    /** Bit 0: the recording has input events; bit 1: samples carry input words. */
    public native int getInputType();

    /**
     * The frame of video videoNumber shown at time (ms), from the lookup
     * table beside the recording whose video table is loaded; -1 when there
     * is none.
     */
    public native int findFrameForVOKTime(int videoNumber, int time);
}
