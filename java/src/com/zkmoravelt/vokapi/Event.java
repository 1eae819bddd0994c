package com.zkmoravelt.vokapi;

/**
 * An event of a recording: fixation, saccade and blink starts and ends,
 * messages, button and input changes, starts and ends of sample and event
 * blocks. {@link #getType()} tells which ({@link ItemType}).
 *
 * <p>Times are unsigned milliseconds of the tracker clock, returned as
 * {@code long}; 16-bit words are returned as unsigned {@code int}s. Values
 * the recording marks missing are 1e8 ({@link Sample#MISSING_VALUE}).
 */
public class Event implements Item {
    int time;
    short type;
    short read;
    short eye;
    int startTime;
    int endTime;
    float startHeadRefX;
    float startHeadRefY;
    float startGazeX;
    float startGazeY;
    float startPupilSize;
    float endHeadRefX;
    float endHeadRefY;
    float endGazeX;
    float endGazeY;
    float endPupilSize;
    float avgHeadRefX;
    float avgHeadRefY;
    float avgGazeX;
    float avgGazeY;
    float avgPupilSize;
    float avgVelocity;
    float peakVelocity;
    float startVelocity;
    float endVelocity;
    float startResolutionX;
    float endResolutionX;
    float startResolutionY;
    float endResolutionY;
    short status;
    short flags;
    short input;
    short buttons;
    short parsedBy;
    String message = "";
    /** Set once the native library has filled the object. */
    boolean filled;

    /** An empty event, to be filled by {@link VOK#getFloatData(Item, int)}. */
    public Event() {}

    /**
     * Stores the values of an event; called by the native library. The
     * argument order is fixed by the native side.
     */
    static void getFilledObject(Event e, int time, short type, short read, short eye, int startTime, int endTime,
            float startHeadRefX, float startHeadRefY, float startGazeX, float startGazeY, float startPupilSize, float endHeadRefX,
            float endHeadRefY, float endGazeX, float endGazeY, float endPupilSize, float avgHeadRefX, float avgHeadRefY,
            float avgGazeX, float avgGazeY, float avgPupilSize, float avgVelocity, float peakVelocity, float startVelocity,
            float endVelocity, float startResolutionX, float endResolutionX, float startResolutionY, float endResolutionY,
            short status, short flags, short input, short buttons, short parsedBy, String message) {
        e.filled = true;
        e.time = time;
        e.type = type;
        e.read = read;
        e.eye = eye;
        e.startTime = startTime;
        e.endTime = endTime;
        e.startHeadRefX = startHeadRefX;
        e.startHeadRefY = startHeadRefY;
        e.startGazeX = startGazeX;
        e.startGazeY = startGazeY;
        e.startPupilSize = startPupilSize;
        e.endHeadRefX = endHeadRefX;
        e.endHeadRefY = endHeadRefY;
        e.endGazeX = endGazeX;
        e.endGazeY = endGazeY;
        e.endPupilSize = endPupilSize;
        e.avgHeadRefX = avgHeadRefX;
        e.avgHeadRefY = avgHeadRefY;
        e.avgGazeX = avgGazeX;
        e.avgGazeY = avgGazeY;
        e.avgPupilSize = avgPupilSize;
        e.avgVelocity = avgVelocity;
        e.peakVelocity = peakVelocity;
        e.startVelocity = startVelocity;
        e.endVelocity = endVelocity;
        e.startResolutionX = startResolutionX;
        e.endResolutionX = endResolutionX;
        e.startResolutionY = startResolutionY;
        e.endResolutionY = endResolutionY;
        e.status = status;
        e.flags = flags;
        e.input = input;
        e.buttons = buttons;
        e.parsedBy = parsedBy;
        e.message = message != null ? message : "";
    }

    @Override
    public int getItemType() {
        return type;
    }

    /** Item type code of the event ({@link ItemType}). */
    public int getType() {
        return type;
    }

    /** Set on blink starts the library builds itself, else 0 (ms). */
    public long getTime() {
        return Integer.toUnsignedLong(time);
    }

    /** Bit set of the value groups the record carried. */
    public int getRead() {
        return Short.toUnsignedInt(read);
    }

    /** 0 left eye, 1 right eye. */
    public int getEye() {
        return eye;
    }

    /** Start time, ms. */
    public long getStartTime() {
        return Integer.toUnsignedLong(startTime);
    }

    /** End time, ms; 0 for events without an end. */
    public long getEndTime() {
        return Integer.toUnsignedLong(endTime);
    }

    /** Head-referenced x at the start. */
    public float getStartHeadRefX() {
        return startHeadRefX;
    }

    /** Head-referenced y at the start. */
    public float getStartHeadRefY() {
        return startHeadRefY;
    }

    /** Gaze x at the start, pixels (display area coordinates with that binding option); 1e8 missing. */
    public float getStartGazeX() {
        return startGazeX;
    }

    /** Gaze y at the start, pixels; 1e8 missing. */
    public float getStartGazeY() {
        return startGazeY;
    }

    /** Pupil size at the start. */
    public float getStartPupilSize() {
        return startPupilSize;
    }

    /** Head-referenced x at the end. */
    public float getEndHeadRefX() {
        return endHeadRefX;
    }

    /** Head-referenced y at the end. */
    public float getEndHeadRefY() {
        return endHeadRefY;
    }

    /** Gaze x at the end, pixels; 1e8 missing. */
    public float getEndGazeX() {
        return endGazeX;
    }

    /** Gaze y at the end, pixels; 1e8 missing. */
    public float getEndGazeY() {
        return endGazeY;
    }

    /** Pupil size at the end. */
    public float getEndPupilSize() {
        return endPupilSize;
    }

    /** Average head-referenced x. */
    public float getAvgHeadRefX() {
        return avgHeadRefX;
    }

    /** Average head-referenced y. */
    public float getAvgHeadRefY() {
        return avgHeadRefY;
    }

    /** Average gaze x, pixels; 1e8 missing. */
    public float getAvgGazeX() {
        return avgGazeX;
    }

    /** Average gaze y, pixels; 1e8 missing. */
    public float getAvgGazeY() {
        return avgGazeY;
    }

    /** Average pupil size. */
    public float getAvgPupilSize() {
        return avgPupilSize;
    }

    /** Average velocity, degrees per second. */
    public float getAvgVelocity() {
        return avgVelocity;
    }

    /** Peak velocity, degrees per second. */
    public float getPeakVelocity() {
        return peakVelocity;
    }

    /** Velocity at the start. */
    public float getStartVelocity() {
        return startVelocity;
    }

    /** Velocity at the end. */
    public float getEndVelocity() {
        return endVelocity;
    }

    /** Resolution x at the start, pixels per degree. */
    public float getStartResolutionX() {
        return startResolutionX;
    }

    /** Resolution x at the end, pixels per degree. */
    public float getEndResolutionX() {
        return endResolutionX;
    }

    /** Resolution y at the start, pixels per degree. */
    public float getStartResolutionY() {
        return startResolutionY;
    }

    /** Resolution y at the end, pixels per degree. */
    public float getEndResolutionY() {
        return endResolutionY;
    }

    /** Status word. */
    public int getStatus() {
        return Short.toUnsignedInt(status);
    }

    /** Flags word. */
    public int getFlags() {
        return Short.toUnsignedInt(flags);
    }

    /** Input port word. */
    public int getInput() {
        return Short.toUnsignedInt(input);
    }

    /** Button word. */
    public int getButtons() {
        return Short.toUnsignedInt(buttons);
    }

    /** Low byte of the record's tag word (bit 0 cleared). */
    public int getParsedBy() {
        return Short.toUnsignedInt(parsedBy);
    }

    /**
     * The text of a message (at most 249 characters, a final line feed
     * removed); the empty string for other events.
     */
    public String getMessage() {
        return message;
    }

    @Override
    public String toString() {
        return "Event[type=" + type + ", start=" + getStartTime() + ", end=" + getEndTime()
                + (message.isEmpty() ? "" : ", message=" + message) + "]";
    }
}
