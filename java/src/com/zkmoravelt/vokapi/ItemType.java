package com.zkmoravelt.vokapi;

/** The item type codes that {@link VOK#getNextData()} returns. */
public final class ItemType {
    /** Start of a start/end pair (not served). */
    public static final int SMARK = 1;
    /** End of a start/end pair (not served). */
    public static final int EMARK = 2;
    /** Start of a blink. */
    public static final int SBLINK = 3;
    /** End of a blink. */
    public static final int EBLINK = 4;
    /** Start of a saccade. */
    public static final int SSACC = 5;
    /** End of a saccade. */
    public static final int ESACC = 6;
    /** Start of a fixation. */
    public static final int SFIX = 7;
    /** End of a fixation. */
    public static final int EFIX = 8;
    /** Point event. */
    public static final int MARKA = 9;
    /** Point event. */
    public static final int MARKB = 10;
    /** Start of a block of samples. */
    public static final int STARTSAMPLES = 15;
    /** End of a block of samples. */
    public static final int ENDSAMPLES = 16;
    /** Start of a block of events. */
    public static final int STARTEVENTS = 17;
    /** End of a block of events. */
    public static final int ENDEVENTS = 18;
    /** Text message. */
    public static final int MESSAGEEVENT = 24;
    /** Button change. */
    public static final int BUTTONEVENT = 25;
    /** Input port change. */
    public static final int INPUTEVENT = 28;
    /** Start or end of a recording block: a {@link RecordingInfo}. */
    public static final int RECORDING_INFO = 30;
    /** A {@link Sample}. */
    public static final int SAMPLE_TYPE = 200;

    private ItemType() {}

    /** True for the codes served as {@link Event}s. */
    public static boolean isEvent(int type) {
        return (type >= SMARK && type <= MARKB) || (type >= STARTSAMPLES && type <= ENDEVENTS)
                || type == MESSAGEEVENT || type == BUTTONEVENT || type == INPUTEVENT;
    }
}
