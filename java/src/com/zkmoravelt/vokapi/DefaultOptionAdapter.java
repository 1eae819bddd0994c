package com.zkmoravelt.vokapi;

/** Formats numbers for tabular output the way the recording tools show them. */
public class DefaultOptionAdapter {
    static {
        NativeLibrary.load();
    }

    /** An adapter with the default options. */
    public DefaultOptionAdapter() {}

    /**
     * A tab followed by value in a field of at least seven characters:
     * precision 0 gives no decimals; precision 1 to 49 gives that many
     * decimals, or one decimal in exponent form (after a blank) for
     * magnitudes of at least 100000 (precision 1), 10000 (precision 2) or
     * 1000 (precision 3 and more); a precision above 49 counts as 49; a
     * negative precision gives six decimals.
     */
    public String getFloatValue(float value, int precision) {
        return getFloatValue0(value, precision);
    }

    native String getFloatValue0(float value, int precision);
}
