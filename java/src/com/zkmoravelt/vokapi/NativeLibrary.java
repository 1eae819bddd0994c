package com.zkmoravelt.vokapi;

/**
 * Loads the native library that implements the methods of this package.
 *
 * <p>By default the library is found by its name, {@code vokapi}, on the
 * JVM's library path ({@code -Djava.library.path=...}). The system property
 * {@value #LIBRARY_PROPERTY} names the library file itself instead, for
 * example {@code -Dvokapi.library=/opt/vokapi/lib/libvokapi.so}.
 */
final class NativeLibrary {
    /** System property naming the native library file. */
    static final String LIBRARY_PROPERTY = "vokapi.library";

    private static boolean loaded;

    private NativeLibrary() {}

    static synchronized void load() {
        if (loaded) {
            return;
        }
        String file = System.getProperty(LIBRARY_PROPERTY);
        if (file != null && !file.isEmpty()) {
            System.load(file);
        } else {
            System.loadLibrary("vokapi");
        }
        loaded = true;
    }
}
