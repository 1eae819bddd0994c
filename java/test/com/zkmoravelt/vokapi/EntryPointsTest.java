package com.zkmoravelt.vokapi;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** Opening, closing, the preamble and the cursor methods of VOK. */
class EntryPointsTest {
    private static final String OPEN_FAILURE = "Could not open VOK File or the VOK File is corrupt";

    @Test
    void filesThatCannotBeOpenedThrowTheOneIOException() throws IOException {
        String[] names = {
            Fixtures.path("missing.vok").toString(),
            Fixtures.path("badmagic.vok").toString(),
            Fixtures.dir().resolve("x".repeat(3000) + ".vok").toString(),  // longer than any name buffer
            "",
            null,
        };
        for (String name : names) {
            VOK vok = new VOK();
            IOException e = assertThrows(IOException.class, () -> vok.getVOKFile(name, 0, 1, 1, 0));
            assertEquals(OPEN_FAILURE, e.getMessage());
            assertFalse(vok.isOpen());
        }
        assertThrows(IOException.class, () -> VOK.open(Fixtures.path("missing.vok")));
    }

    @Test
    void namesOutsideTheBasicPlaneOpen() throws IOException {
        assumeTrue("UTF-8".equalsIgnoreCase(System.getProperty("sun.jnu.encoding")),
                "Java writes such file names only in a UTF-8 locale");
        Path named = Fixtures.newDirectory("names").resolve("r\u00e9c \ud83d\ude00.vok");
        Files.copy(Fixtures.path("walk.vok"), named);
        try (VOK vok = VOK.open(named)) {
            assertEquals(Fixtures.items("walk").count, vok.getItemCount());
        }
    }

    @Test
    void anObjectWithoutARecordingAnswersWithEmptyResults() {
        VOK vok = new VOK();
        assertEquals(0, vok.getNextData());
        assertNull(vok.next());
        assertEquals(0, vok.getItemCount());
        assertEquals(-1, vok.peakItemIndex());
        assertEquals(-1, vok.getRevision());
        assertEquals("", vok.getPreambleText());
        vok.gotoIndex(3);
        vok.close();
        vok.close();
    }

    @Test
    void closingTwiceAndCallingAfterwardsIsHarmless() throws IOException {
        VOK vok = VOK.open(Fixtures.path("walk.vok"));
        assertTrue(vok.isOpen());
        assertTrue(vok.getNextData() != 0);
        vok.close();
        assertFalse(vok.isOpen());
        vok.close();
        assertEquals(0, vok.getNextData());
        assertEquals(0, vok.getItemCount());
    }

    @Test
    void openingAgainReplacesTheRecording() throws IOException {
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            int walkItems = vok.getItemCount();
            vok.getVOKFile(Fixtures.path("display.vok").toString(), 0, 1, 1, 0);
            assertTrue(vok.getItemCount() != walkItems);
            assertEquals(0, vok.peakItemIndex());
        }
    }

    @Test
    void preambleAndRevision() throws IOException {
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            String text = vok.getPreambleText();
            assertTrue(text.startsWith("** "), text);
            assertTrue(text.contains("** SOURCE: TARNVIK MK II\n"), text);
            assertEquals(4, vok.getRevision());
        }
        try (VOK vok = VOK.open(Fixtures.path("nopreamble.vok"))) {
            assertEquals("", vok.getPreambleText());
            assertEquals(0, vok.getRevision());
            assertEquals(0, vok.getNextData());
        }
    }

    @Test
    void theCursorMethodsFollowTheItems() throws IOException {
        Fixtures.Items expected = Fixtures.items("walk");
        boolean inputEvents = false;
        boolean inputWords = false;
        for (String[] line : expected.lines) {
            inputEvents |= line[0].equals("E") && line[1].equals("28");
            inputWords |= line[0].equals("S") && !line[19].equals("32768");
        }
        try (VOK vok = VOK.open(Fixtures.path("walk.vok"))) {
            assertEquals((inputEvents ? 1 : 0) | (inputWords ? 2 : 0), vok.getInputType());
            assertEquals(0, vok.peakItemIndex());
            for (int i = 0; i < 10; ++i) {
                vok.getNextData();
            }
            assertEquals(10, vok.peakItemIndex());
            int k = expected.count / 2;
            vok.gotoIndex(k);
            assertEquals(k, vok.peakItemIndex());
            Item item = VOK.newRecord(vok.getNextData());
            String kind = expected.lines.get(k)[0];
            assertEquals(kind, item instanceof Sample ? "S" : item instanceof Event ? "E" : "R");
            vok.gotoIndex(-1);
            vok.gotoIndex(expected.count);
            assertEquals(k + 1, vok.peakItemIndex(), "positions outside the items are ignored");
        }
    }

    @ParameterizedTest
    @CsvSource(delimiter = '|', value = {
        "12345.678 | 2 | '\t 1.2e+04'",
        "-12345.678| 2 | '\t -1.2e+04'",
        "123.456   | 2 | '\t 123.46'",
        "7.25      | 0 | '\t      7'",
        "7.26      | 1 | '\t    7.3'",
        "99999.9   | 1 | '\t99999.9'",
        "100000    | 1 | '\t 1.0e+05'",
        "999.5     | 3 | '\t999.500'",
        "1000      | 3 | '\t 1.0e+03'",
        "1.5       | -1| '\t1.500000'",
    })
    void floatTexts(float value, int precision, String text) {
        assertEquals(text, new DefaultOptionAdapter().getFloatValue(value, precision));
    }

    @Test
    void precisionsOf50AndMoreAreCutTo49() {
        DefaultOptionAdapter a = new DefaultOptionAdapter();
        String cut = "\t-999.9990234375" + "0".repeat(39);
        assertEquals(cut, a.getFloatValue(-999.999f, 49));
        assertEquals(cut, a.getFloatValue(-999.999f, 50));
        assertEquals(cut, a.getFloatValue(-999.999f, Integer.MAX_VALUE));
        assertEquals("\t1." + "5" + "0".repeat(48), a.getFloatValue(1.5f, 1000));
        assertTrue(a.getFloatValue(-Float.MAX_VALUE, -5).length() < 56);
        assertTrue(a.getFloatValue(Float.NaN, 60).startsWith("\t"));
    }
}
