package com.zkmoravelt.vokapi;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.stream.Stream;

/**
 * The recordings of the tests, written once per JVM by the fixture program
 * (system property vokapi.test.fixtures) with the project's writer, and the
 * items the C interface serves for some of them.
 */
final class Fixtures {
    private static Path dir;

    private Fixtures() {}

    static synchronized Path dir() {
        if (dir == null) {
            try {
                dir = newDirectory("fixtures");
                String helper = System.getProperty("vokapi.test.fixtures");
                if (helper == null) {
                    throw new IllegalStateException("system property vokapi.test.fixtures is not set");
                }
                Process p = new ProcessBuilder(helper, dir.toString()).inheritIO().start();
                if (p.waitFor() != 0) {
                    throw new IllegalStateException("the fixture program failed");
                }
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw new IllegalStateException(e);
            }
        }
        return dir;
    }

    static Path path(String name) {
        return dir().resolve(name);
    }

    /** A fresh directory, removed with its contents when the JVM ends. */
    static Path newDirectory(String prefix) throws IOException {
        Path base = Paths.get(System.getProperty("vokapi.test.tmp", System.getProperty("java.io.tmpdir")));
        Files.createDirectories(base);
        Path d = Files.createTempDirectory(base, prefix);
        Runtime.getRuntime().addShutdownHook(new Thread(() -> deleteTree(d)));
        return d;
    }

    private static void deleteTree(Path d) {
        try (Stream<Path> walk = Files.walk(d)) {
            walk.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        } catch (IOException e) {
            // left for the build directory's cleanup
        }
    }

    /** The item lines of name.items, split into tokens; the "N" line gives count. */
    static final class Items {
        final int count;
        final List<String[]> lines;

        Items(int count, List<String[]> lines) {
            this.count = count;
            this.lines = lines;
        }
    }

    static Items items(String name) throws IOException {
        List<String> all = Files.readAllLines(path(name + ".items"), StandardCharsets.US_ASCII);
        String[] head = all.get(0).split(" ");
        List<String[]> lines = new ArrayList<>();
        for (String line : all.subList(1, all.size())) {
            lines.add(line.split(" "));
        }
        return new Items(Integer.parseInt(head[1]), lines);
    }

    static int floatBits(String hex) {
        return (int) Long.parseLong(hex, 16);
    }

    static byte[] hexBytes(String hex) {
        if (hex.equals("-")) {
            return new byte[0];
        }
        byte[] b = new byte[hex.length() / 2];
        for (int i = 0; i < b.length; ++i) {
            b[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        }
        return b;
    }

    /**
     * An AVI file of frames frames, microSecPerFrame apart: RIFF form
     * 'AVI ' with the 'hdrl' list holding the 'avih' main header, then a
     * 'movi' list with an empty chunk per frame.
     */
    static byte[] aviFile(int microSecPerFrame, int frames) {
        ByteBuffer avih = le(56);
        avih.putInt(microSecPerFrame).putInt(1000000).putInt(0).putInt(0x10).putInt(frames).putInt(0).putInt(1)
                .putInt(0).putInt(640).putInt(480);
        byte[] strh = new byte[56];
        byte[] hdrl = concat(ascii("hdrl"), chunk("avih", avih.array()), list("strl", chunk("strh", strh)));
        ByteBuffer movi = le(8 * frames);
        for (int i = 0; i < frames; ++i) {
            movi.put(ascii("00dc")).putInt(0);
        }
        byte[] body = concat(ascii("AVI "), chunk("LIST", hdrl), list("movi", movi.array()));
        return concat(ascii("RIFF"), le(4).putInt(body.length).array(), body);
    }

    private static ByteBuffer le(int size) {
        return ByteBuffer.allocate(size).order(ByteOrder.LITTLE_ENDIAN);
    }

    private static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.US_ASCII);
    }

    private static byte[] chunk(String id, byte[] data) {
        byte[] padded = data.length % 2 == 0 ? data : concat(data, new byte[1]);
        return concat(ascii(id), le(4).putInt(data.length).array(), padded);
    }

    private static byte[] list(String type, byte[] body) {
        return chunk("LIST", concat(ascii(type), body));
    }

    private static byte[] concat(byte[]... parts) {
        int n = 0;
        for (byte[] p : parts) {
            n += p.length;
        }
        ByteBuffer b = ByteBuffer.allocate(n);
        for (byte[] p : parts) {
            b.put(p);
        }
        return b.array();
    }
}
