#include "ExtraLogWriter.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace vokgen {

std::string ExtraLogWriter::number(double value) {
    // Plain decimals, as logging programs write them; the fewest digits
    // after the point that read back exactly.
    char buffer[512];
    for (int decimals = 0; decimals <= 20; ++decimals) {
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
        if (std::strtod(buffer, nullptr) == value) break;
    }
    return buffer;
}

ExtraLogWriter& ExtraLogWriter::sync(double localTime, double trackerTime, int third) {
    return line(number(localTime) + " TRACKER_TIME " + std::to_string(third) + " " + number(trackerTime));
}

ExtraLogWriter& ExtraLogWriter::message(double localTime, std::string_view text) {
    return line(number(localTime) + " " + std::string(text));
}

ExtraLogWriter& ExtraLogWriter::quit(double localTime) { return message(localTime, "Quit logger"); }

ExtraLogWriter& ExtraLogWriter::line(std::string_view text) {
    text_ += text;
    if (text.empty() || text.back() != '\n') text_ += '\n';
    return *this;
}

ExtraLogWriter& ExtraLogWriter::raw(std::string_view bytes) {
    text_ += bytes;
    return *this;
}

void ExtraLogWriter::writeFile(const std::string& path) const {
    std::ofstream out(path, std::ios::binary);
    out.write(text_.data(), static_cast<std::streamsize>(text_.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace vokgen
