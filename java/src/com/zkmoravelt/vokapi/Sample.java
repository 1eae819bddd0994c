package com.zkmoravelt.vokapi;

/**
 * One measurement of both eyes at one instant.
 *
 * <p>Two-eye values are read with an eye index: {@link #LEFT} or
 * {@link #RIGHT}. {@link #MISSING_VALUE} (1e8) marks a value the recording
 * marks missing or that cannot be computed, {@link #ABSENT_VALUE} (-32768)
 * a position or pupil size of an eye or group the sample does not carry,
 * and {@link #ABSENT_WORD} an optional word it does not carry.
 */
public class Sample implements Item {
    /** Index of the left eye. */
    public static final int LEFT = 0;
    /** Index of the right eye. */
    public static final int RIGHT = 1;
    /** A value that is missing or cannot be computed. */
    public static final float MISSING_VALUE = 100000000.0f;
    /** A position or pupil size of an absent eye or group. */
    public static final float ABSENT_VALUE = -32768.0f;
    /** An optional word the sample does not carry. */
    public static final int ABSENT_WORD = 0x8000;
    /** Flags bit of the second sample of a millisecond. */
    public static final int HALF_MILLISECOND = 0x0002;

    /** Set once the native library has filled the object. */
    boolean filled;
    double time;
    short flags;
    float[] pupilX = new float[2];
    float[] pupilY = new float[2];
    float[] headRefX = new float[2];
    float[] headRefY = new float[2];
    float[] pupilSize = new float[2];
    float[] gazeX = new float[2];
    float[] gazeY = new float[2];
    float resolutionX;
    float resolutionY;
    /** The word the native side passes after the resolution; always 0. */
    short reservedWord;
    short input;
    short buttons;
    short headDataType;
    short[] headData = new short[8];
    short errors;
    float[] gazeVelX = new float[2];
    float[] gazeVelY = new float[2];
    float[] headRefVelX = new float[2];
    float[] headRefVelY = new float[2];
    float[] pupilVelX = new float[2];
    float[] pupilVelY = new float[2];
    float[] fastGazeVelX = new float[2];
    float[] fastGazeVelY = new float[2];
    float[] fastHeadRefVelX = new float[2];
    float[] fastHeadRefVelY = new float[2];
    float[] fastPupilVelX = new float[2];
    float[] fastPupilVelY = new float[2];

    /** An empty sample, to be filled by {@link VOK#getFloatData(Item, int)}. */
    public Sample() {}

    /**
     * Stores the values of a sample; called by the native library. The
     * argument order is fixed by the native side.
     */
    static void getFilledObject(Sample s, double time, short flags,
            float[] pupilX, float[] pupilY, float[] headRefX, float[] headRefY, float[] pupilSize,
            float[] gazeX, float[] gazeY,
            float resolutionX, float resolutionY, short reservedWord, short input, short buttons,
            short headDataType, short[] headData, short errors,
            float[] gazeVelX, float[] gazeVelY, float[] headRefVelX, float[] headRefVelY, float[] pupilVelX, float[] pupilVelY,
            float[] fastGazeVelX, float[] fastGazeVelY, float[] fastHeadRefVelX, float[] fastHeadRefVelY, float[] fastPupilVelX, float[] fastPupilVelY) {
        s.filled = true;
        s.time = time;
        s.flags = flags;
        s.pupilX = pupilX;
        s.pupilY = pupilY;
        s.headRefX = headRefX;
        s.headRefY = headRefY;
        s.pupilSize = pupilSize;
        s.gazeX = gazeX;
        s.gazeY = gazeY;
        s.resolutionX = resolutionX;
        s.resolutionY = resolutionY;
        s.reservedWord = reservedWord;
        s.input = input;
        s.buttons = buttons;
        s.headDataType = headDataType;
        s.headData = headData;
        s.errors = errors;
        s.gazeVelX = gazeVelX;
        s.gazeVelY = gazeVelY;
        s.headRefVelX = headRefVelX;
        s.headRefVelY = headRefVelY;
        s.pupilVelX = pupilVelX;
        s.pupilVelY = pupilVelY;
        s.fastGazeVelX = fastGazeVelX;
        s.fastGazeVelY = fastGazeVelY;
        s.fastHeadRefVelX = fastHeadRefVelX;
        s.fastHeadRefVelY = fastHeadRefVelY;
        s.fastPupilVelX = fastPupilVelX;
        s.fastPupilVelY = fastPupilVelY;
    }

    @Override
    public int getItemType() {
        return ItemType.SAMPLE_TYPE;
    }

    /**
     * Time stamp, ms; the second sample of a millisecond (recordings at
     * 2000 Hz) has half a millisecond added.
     */
    public double getTime() {
        return time;
    }

    /** The sample's status word (flags bits, {@link #HALF_MILLISECOND} among them). */
    public int getFlags() {
        return Short.toUnsignedInt(flags);
    }

    /** Pupil position x, camera units, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getPupilX(int eye) {
        return pupilX[eye];
    }

    /** Pupil position y, camera units, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getPupilY(int eye) {
        return pupilY[eye];
    }

    /** Head-referenced position x, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getHeadRefX(int eye) {
        return headRefX[eye];
    }

    /** Head-referenced position y, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getHeadRefY(int eye) {
        return headRefY[eye];
    }

    /** Pupil size, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getPupilSize(int eye) {
        return pupilSize[eye];
    }

    /** Gaze position x, pixels (display area coordinates with that binding option), of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getGazeX(int eye) {
        return gazeX[eye];
    }

    /** Gaze position y, pixels (display area coordinates with that binding option), of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getGazeY(int eye) {
        return gazeY[eye];
    }

    /** Resolution x, pixels per degree; {@link #MISSING_VALUE} when not recorded. */
    public float getResolutionX() {
        return resolutionX;
    }

    /** Resolution y, pixels per degree; {@link #MISSING_VALUE} when not recorded. */
    public float getResolutionY() {
        return resolutionY;
    }

    /** Input port word; {@link #ABSENT_WORD} when not recorded. */
    public int getInput() {
        return Short.toUnsignedInt(input);
    }

    /** Button word; 0 when not recorded. */
    public int getButtons() {
        return Short.toUnsignedInt(buttons);
    }

    /** Type of the head data, 0 to 255 (low four bits: word count); -32768 when not recorded. */
    public int getHeadDataType() {
        return headDataType;
    }

    /** The eight head-tracker and camera words (a copy). */
    public short[] getHeadData() {
        return headData.clone();
    }

    /** Error word; {@link #ABSENT_WORD} when not recorded. */
    public int getErrors() {
        return Short.toUnsignedInt(errors);
    }

    /** Gaze velocity x, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getGazeVelX(int eye) {
        return gazeVelX[eye];
    }

    /** Gaze velocity y, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getGazeVelY(int eye) {
        return gazeVelY[eye];
    }

    /** Head-referenced velocity x, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getHeadRefVelX(int eye) {
        return headRefVelX[eye];
    }

    /** Head-referenced velocity y, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getHeadRefVelY(int eye) {
        return headRefVelY[eye];
    }

    /** Pupil-position velocity x, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getPupilVelX(int eye) {
        return pupilVelX[eye];
    }

    /** Pupil-position velocity y, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getPupilVelY(int eye) {
        return pupilVelY[eye];
    }

    /** Fast-form gaze velocity x, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getFastGazeVelX(int eye) {
        return fastGazeVelX[eye];
    }

    /** Fast-form gaze velocity y, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getFastGazeVelY(int eye) {
        return fastGazeVelY[eye];
    }

    /** Fast-form head-referenced velocity x, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getFastHeadRefVelX(int eye) {
        return fastHeadRefVelX[eye];
    }

    /** Fast-form head-referenced velocity y, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getFastHeadRefVelY(int eye) {
        return fastHeadRefVelY[eye];
    }

    /** Fast-form pupil-position velocity x, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getFastPupilVelX(int eye) {
        return fastPupilVelX[eye];
    }

    /** Fast-form pupil-position velocity y, degrees per second, of one eye ({@link #LEFT} or {@link #RIGHT}). */
    public float getFastPupilVelY(int eye) {
        return fastPupilVelY[eye];
    }

    @Override
    public String toString() {
        return "Sample[time=" + time + ", gaze=(" + gazeX[LEFT] + "," + gazeY[LEFT] + ")/(" + gazeX[RIGHT] + ","
                + gazeY[RIGHT] + ")]";
    }
}
