package com.zkmoravelt.vokapi;

/** The start or the end of a recording block. */
public class RecordingInfo implements Item {
    /** Set once the native library has filled the object. */
    boolean filled;
    int time;
    byte state;
    byte recordType;
    byte pupilType;
    byte recordingMode;
    byte filterType;
    float sampleRate;
    byte positionType;
    byte eye;
    int sampleFlags;
    int eventFlags;

    /** An empty record, to be filled by {@link VOK#getFloatData(Item, int)}. */
    public RecordingInfo() {}

    /**
     * Stores the values of a recording record; called by the native library.
     * The argument order is fixed by the native side.
     */
    static void getFilledObject(RecordingInfo r, int time, byte state, byte recordType, byte pupilType,
            byte recordingMode, byte filterType, float sampleRate, byte positionType, byte eye, int sampleFlags,
            int eventFlags) {
        r.filled = true;
        r.time = time;
        r.state = state;
        r.recordType = recordType;
        r.pupilType = pupilType;
        r.recordingMode = recordingMode;
        r.filterType = filterType;
        r.sampleRate = sampleRate;
        r.positionType = positionType;
        r.eye = eye;
        r.sampleFlags = sampleFlags;
        r.eventFlags = eventFlags;
    }

    /** A copy of this record. */
    public RecordingInfo copy() {
        RecordingInfo r = new RecordingInfo();
        getFilledObject(r, time, state, recordType, pupilType, recordingMode, filterType, sampleRate, positionType,
                eye, sampleFlags, eventFlags);
        return r;
    }

    @Override
    public int getItemType() {
        return ItemType.RECORDING_INFO;
    }

    /** Time of the block start or end, ms. */
    public long getTime() {
        return Integer.toUnsignedLong(time);
    }

    /** 1 for the start of a block, 0 for its end. */
    public int getState() {
        return Byte.toUnsignedInt(state);
    }

    /** True for the start of a block. */
    public boolean isStart() {
        return state != 0;
    }

    /** 1 samples, 2 events, 3 both. */
    public int getRecordType() {
        return Byte.toUnsignedInt(recordType);
    }

    /** Pupil type of the block, 0 or 1. */
    public int getPupilType() {
        return Byte.toUnsignedInt(pupilType);
    }

    /** Recording mode of the block, 0 or 1. */
    public int getRecordingMode() {
        return Byte.toUnsignedInt(recordingMode);
    }

    /** Filter level of the block. */
    public int getFilterType() {
        return Byte.toUnsignedInt(filterType);
    }

    /** Samples per second. */
    public float getSampleRate() {
        return sampleRate;
    }

    /** Position type of the block. */
    public int getPositionType() {
        return Byte.toUnsignedInt(positionType);
    }

    /** 1 left, 2 right, 3 both eyes. */
    public int getEye() {
        return Byte.toUnsignedInt(eye);
    }

    /** Flags word of the samples-block start (the sample flags bits of the block). */
    public int getSampleFlags() {
        return sampleFlags;
    }

    /** Flags word of the events-block start. */
    public int getEventFlags() {
        return eventFlags;
    }

    @Override
    public String toString() {
        return "RecordingInfo[" + (isStart() ? "start" : "end") + " at " + getTime() + ", rate=" + sampleRate + "]";
    }
}
