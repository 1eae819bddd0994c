#include "format/Preamble.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace vok {

namespace {
// Library-wide by design (the last preamble read sets it); atomic so that
// opens in several threads may set it while others read it.
std::atomic<int> g_textEncoding{0};

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}
}  // namespace

int textEncodingFlag() { return g_textEncoding.load(std::memory_order_relaxed); }
void setTextEncodingFlag(int flag) { g_textEncoding.store(flag, std::memory_order_relaxed); }

int readPreambleLine(RecordReader& reader, char (&line)[200], std::size_t& length) {
    length = 0;
    line[0] = '\0';
    if (reader.endOfPreamble) return 1;
    if (!reader.stream) return -1;
    length = reader.stream->readLineStrict(line, sizeof line);
    if (startsWith(line, "VERSION: TARNVIK MK ")) {
        int revision = std::atoi(line + 20);
        reader.revision = static_cast<std::uint16_t>(revision == 0 ? 1 : revision);
        return 0;
    }
    if (startsWith(line, "SOURCE: TARNVIK")) {
        if (startsWith(line, "SOURCE: TARNVIK MK")) {
            reader.trackerRevision = 2;
        } else if (startsWith(line, "SOURCE: TARNVIK RX")) {
            reader.trackerRevision = 3;
        }
        return 0;
    }
    // The end line must be exactly these six bytes: a NUL inside the line
    // or anything after the line feed makes it an ordinary line.
    if (length == 6 && std::memcmp(line, "ENDP:\n", 6) == 0) {
        reader.endOfPreamble = true;
        return 1;
    }
    return 0;
}

std::string readPreamble(RecordReader& reader) {
    std::string text;
    text.reserve(512);
    char line[200];
    std::size_t length = 0;
    int step;
    while ((step = readPreambleLine(reader, line, length)) == 0) {
        // The text is a C string: a line is taken up to its first NUL.
        std::size_t visible = std::strlen(line);
        if (text.size() < kPreambleTextCapacity) {
            text.append("** ", 3);
            text.append(line, visible);
            if (text.size() > kPreambleTextCapacity) text.resize(kPreambleTextCapacity);
        }
    }
    deriveTextEncoding(text);
    return text;
}

void deriveTextEncoding(const std::string& text) {
    std::size_t at = text.find("ZKMB1.");
    if (at != std::string::npos) {
        std::size_t from = at + 6;
        std::size_t to = text.find('.', from);
        std::string number = text.substr(from, to == std::string::npos ? std::string::npos : to - from);
        setTextEncodingFlag(std::atoi(number.c_str()) >= 6 ? 1 : 0);
        return;
    }
    at = text.find("ZKMB");
    if (at != std::string::npos && text.size() - at >= 7) {
        char digit = text[at + 4];
        if (digit >= '2' && digit <= '8' && text[at + 5] == '.') setTextEncodingFlag(1);
    }
}

}  // namespace vok
