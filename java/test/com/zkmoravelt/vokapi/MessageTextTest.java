package com.zkmoravelt.vokapi;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * Message texts on their way to Java: cut to 249 characters, a final line
 * feed removed, and decoded as UTF-8 or in the system code page as the
 * recording's preamble says.
 *
 * <p>The system code page follows the locale the JVM runs in: the property
 * vokapi.test.systemCodePage names what the test run set up ("WINDOWS-1252"
 * for the C locale, "UTF-8" for a UTF-8 locale).
 */
class MessageTextTest {
    static List<String> messages(String file) throws IOException {
        List<String> texts = new ArrayList<>();
        try (VOK vok = VOK.open(Fixtures.path(file))) {
            for (Item item : vok.items()) {
                if (item.getItemType() == ItemType.MESSAGEEVENT) {
                    texts.add(((Event) item).getMessage());
                }
            }
        }
        return texts;
    }

    @Test
    void textsAreTrimmedForJava() throws IOException {
        List<String> texts = messages("messages.vok");
        assertEquals(List.of("x".repeat(249), "abc", "hello", "line", "two\n", "y".repeat(249), "pad", ""), texts);
    }

    @Test
    void utf8TextsKeepEveryCharacter() throws IOException {
        List<String> texts = messages("utf8.vok");
        assertEquals("Gr\u00fc\u00dfe \u65e5\u672c \ud83d\ude00", texts.get(1));
        assertEquals("TRIAL_START \u00c4 1", texts.get(2));
    }

    @Test
    void utf8TrialIdentifiers() throws IOException {
        try (VOK vok = VOK.open(Fixtures.path("utf8.vok"))) {
            // The block opens a trial, each start message another.
            vok.setTrialIdentifiers("TRIAL_START \u00c4", "TRIAL_END \u00c4");
            assertEquals(3, vok.getTrialCount());
            assertEquals(1003, vok.jumpToTrial(1).getStartTime());
            vok.setTrialIdentifiers("TRIAL_START \u00c5", null);
            assertEquals(1, vok.getTrialCount(), "an identifier that matches nothing: the block alone");
        }
    }

    @Test
    void systemCodePageTrialIdentifiers() throws IOException {
        try (VOK vok = VOK.open(Fixtures.path("codepage.vok"))) {
            vok.setTrialIdentifiers("Pr\u00fcfung", "Ende \u00fc");
            boolean windows1252 = System.getProperty("vokapi.test.systemCodePage", "").equals("WINDOWS-1252");
            // The block opens a trial and the start message another; in a
            // UTF-8 locale the identifiers are UTF-8 and match none of the
            // recording's texts, which leaves the block alone.
            assertEquals(windows1252 ? 2 : 1, vok.getTrialCount());
        }
    }

    @Test
    void systemCodePageTexts() throws IOException {
        List<String> texts = messages("codepage.vok");
        String codePage = System.getProperty("vokapi.test.systemCodePage", "");
        if (codePage.equals("WINDOWS-1252")) {
            assertEquals("caf\u00e9 \u20ac na\u00efve", texts.get(1));
            assertEquals("Pr\u00fcfung 1", texts.get(2));
        } else if (codePage.equals("UTF-8")) {
            // The Windows-1252 bytes are no UTF-8: each becomes U+FFFD.
            assertEquals("caf\ufffd \ufffd na\ufffdve", texts.get(1));
        } else {
            throw new AssertionError("vokapi.test.systemCodePage names no known setup: " + codePage);
        }
    }
}
