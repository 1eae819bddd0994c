// Writes extra message logs: the plain-text files of timed lines that
// another program writes beside a recording, with synchronisation lines
// ("TRACKER_TIME") that tie its clock to the tracker's.  For tests and demos.
#pragma once

#include <string>
#include <string_view>

namespace vokgen {

class ExtraLogWriter {
public:
    // "<local> TRACKER_TIME <third> <tracker>": local clock time and the
    // tracker time it corresponds to.
    ExtraLogWriter& sync(double localTime, double trackerTime, int third = 0);
    // "<local> <text>": one message line; the text follows after one blank.
    ExtraLogWriter& message(double localTime, std::string_view text);
    // "<local> Quit logger": the line that closes a complete log.
    ExtraLogWriter& quit(double localTime);
    // Any line as given (malformed synchronisation lines, lines without a
    // number, very long lines); a line end is added unless it ends with one.
    ExtraLogWriter& line(std::string_view text);
    // Bytes as given, no line end added.
    ExtraLogWriter& raw(std::string_view bytes);

    const std::string& text() const { return text_; }

    // Writes the log to path; throws std::runtime_error on failure.
    void writeFile(const std::string& path) const;

    // A time as the lines carry it: a plain decimal with the fewest digits
    // after the point that reads back as the same double ("1000", "1010.5").
    static std::string number(double value);

private:
    std::string text_;
};

}  // namespace vokgen
