package com.zkmoravelt.vokapi;

/**
 * A trial: a stretch of a recording's items, delimited by identifier
 * messages ({@link VOK#setTrialIdentifiers(String, String)}) or, without
 * identifiers, a whole recording block.
 *
 * <p>The trial methods of {@link VOK} return the same Trial object each time,
 * refilled; use {@link #copy()} to keep one.
 */
public class Trial {
    int startTime;
    int endTime;
    RecordingInfo recording;
    int startIndex;
    int endIndex;

    /** An empty trial. */
    public Trial() {}

    /**
     * Stores the values of a trial; called by the native library. The
     * argument order is fixed by the native side.
     */
    static void getFilledObject(Trial t, int startTime, int endTime, RecordingInfo recording, int startIndex,
            int endIndex) {
        t.startTime = startTime;
        t.endTime = endTime;
        t.recording = recording;
        t.startIndex = startIndex;
        t.endIndex = endIndex;
    }

    /** A copy of this trial, with a copy of its recording record. */
    public Trial copy() {
        Trial t = new Trial();
        getFilledObject(t, startTime, endTime, recording != null ? recording.copy() : null, startIndex, endIndex);
        return t;
    }

    /** Start time, ms. */
    public long getStartTime() {
        return Integer.toUnsignedLong(startTime);
    }

    /** End time, ms. */
    public long getEndTime() {
        return Integer.toUnsignedLong(endTime);
    }

    /** End time minus start time, ms. */
    public long getDuration() {
        return Integer.toUnsignedLong(endTime - startTime);
    }

    /** The start of the recording block the trial lies in; null when it has none. */
    public RecordingInfo getRecording() {
        return recording;
    }

    /** Item position of the trial's first item. */
    public int getStartIndex() {
        return startIndex;
    }

    /** Item position one past the trial's last item. */
    public int getEndIndex() {
        return endIndex;
    }

    @Override
    public String toString() {
        return "Trial[" + getStartTime() + ".." + getEndTime() + ", items " + startIndex + ".." + endIndex + "]";
    }
}
