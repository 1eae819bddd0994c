#include "Output.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>

#include <fmt/format.h>

#include "System.h"

namespace voktool {

bool writeAll(int fd, const char* data, std::size_t size) { return writeFd(fd, data, size); }

Output::Output(int fd, bool owned) : fd_(fd), owned_(owned), data_(new char[kChunk]), capacity_(kChunk) {
    pos_ = data_.get();
    end_ = pos_ + capacity_;
}

Output::~Output() {
    if (!partPath_.empty()) {
        // Never closed: an error or an interrupt came first.  The half
        // written file goes; the final name was never touched.
        if (fd_ >= 0) closeFd(fd_);
        removeFileQuietly(partPath_);
        return;
    }
    try {
        close();
    } catch (const OutputError&) {
        // A destructor cannot report; callers that care call close() first.
    }
}

int Output::openFile(const std::string& path) {
    const int fd = createFileFd(path);
    if (fd < 0) throw OutputError(fmt::format("cannot create {}: {}", path, errorText(errno)));
    return fd;
}

std::unique_ptr<Output> Output::createFile(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const std::string part = fmt::format("{}.part{}", path, counter.fetch_add(1));
    auto out = std::make_unique<Output>(openFile(part), true);
    out->partPath_ = part;
    out->finalPath_ = path;
    return out;
}

void Output::makeRoom(std::size_t n) {
    flush();
    if (n > capacity_) {
        capacity_ = n;
        data_.reset(new char[capacity_]);
        pos_ = data_.get();
        end_ = pos_ + capacity_;
    }
}

void Output::append(std::string_view text) {
    while (!text.empty()) {
        char* p = reserve(1);
        const std::size_t n = std::min(text.size(), static_cast<std::size_t>(end_ - p));
        std::memcpy(p, text.data(), n);
        commit(p + n);
        text.remove_prefix(n);
    }
}

void Output::flush() {
    const std::size_t size = static_cast<std::size_t>(pos_ - data_.get());
    if (size == 0) return;
    pos_ = data_.get();
    if (fd_ < 0) throw OutputError("output already closed");
    if (!writeAll(fd_, data_.get(), size)) throw OutputError(fmt::format("write failed: {}", errorText(errno)));
    written_ += size;
}

void Output::close() {
    if (fd_ < 0) return;
    flush();
    if (owned_) {
        const int fd = fd_;
        fd_ = -1;
        if (!closeFd(fd)) throw OutputError(fmt::format("close failed: {}", errorText(errno)));
    }
    if (!partPath_.empty()) {
        const std::string part = std::move(partPath_);
        partPath_.clear();
        if (!replaceFile(part, finalPath_)) {
            const int e = errno;
            removeFileQuietly(part);
            throw OutputError(fmt::format("cannot create {}: {}", finalPath_, errorText(e)));
        }
    }
}

// ---- encoders ----------------------------------------------------------------

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

int digitCount(std::uint64_t v) {
    int n = 1;
    while (v >= 10000) {
        v /= 10000;
        n += 4;
    }
    return n + (v >= 10) + (v >= 100) + (v >= 1000);
}

// Writes the n digits of v ending just before `end`, two at a time.
void digitsBackwards(char* end, std::uint64_t v, int n) {
    while (n >= 2) {
        const auto pair = static_cast<std::size_t>(v % 100) * 2;
        v /= 100;
        end -= 2;
        end[0] = kDigitPairs[pair];
        end[1] = kDigitPairs[pair + 1];
        n -= 2;
    }
    if (n == 1) end[-1] = static_cast<char>('0' + v);
}

void put(char*& p, std::string_view text) {
    if (text.empty()) return;  // an empty view may hold no pointer at all
    std::memcpy(p, text.data(), text.size());
    p += text.size();
}

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not valid.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    std::uint32_t min = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    std::uint32_t cp = c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

char* writeUInt(char* p, std::uint64_t value) {
    const int n = digitCount(value);
    digitsBackwards(p + n, value, n);
    return p + n;
}

// Values print as the shortest text that reads back exactly
// (std::to_chars); whole numbers and tenths, which most recorded values are,
// take a faster path to the same text.  Tables run to millions of rows.
char* writeFloat(char* p, float value) {
    if (!std::isfinite(value)) return std::to_chars(p, p + 16, value).ptr;
    if (std::signbit(value)) {
        *p++ = '-';
        value = -value;
    }
    if (value == 0.0f) {
        *p++ = '0';
        return p;
    }
    // Most recorded values are whole numbers or tenths (a stored integer over
    // a scale of 10).  Below 2^17 a float's neighbours lie much closer than
    // 0.1, so the tenth nearest to it is its shortest form.
    if (value < 131072.0f) {
        const auto tenths = static_cast<std::uint32_t>(static_cast<double>(value) * 10.0 + 0.5);
        if (static_cast<float>(tenths) / 10.0f == value) {
            const std::uint32_t whole = tenths / 10, tenth = tenths % 10;
            p = writeUInt(p, whole);
            if (tenth != 0) {
                p[0] = '.';
                p[1] = static_cast<char>('0' + tenth);
                p += 2;
            }
            return p;
        }
    }
    return std::to_chars(p, p + 32, value).ptr;
}

char* writeComputedFloat(char* p, float value) {
    if (!std::isfinite(value)) return std::to_chars(p, p + 16, value).ptr;
    if (std::signbit(value)) {
        *p++ = '-';
        value = -value;
    }
    if (value == 0.0f) {
        *p++ = '0';
        return p;
    }
    return std::to_chars(p, p + 32, value).ptr;
}

char* writeDouble(char* p, double value) {
    if (!std::isfinite(value)) return std::to_chars(p, p + 24, value).ptr;
    if (std::signbit(value)) {
        *p++ = '-';
        value = -value;
    }
    if (value == 0.0) {
        *p++ = '0';
        return p;
    }
    return std::to_chars(p, p + 32, value).ptr;
}

char* writeDelimitedText(char* p, std::string_view text, char separator) {
    bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    for (char c : text) {
        if (c == separator || c == '"' || c == '\n' || c == '\r') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        put(p, text);
        return p;
    }
    *p++ = '"';
    for (char c : text) {
        if (c == '"') *p++ = '"';
        *p++ = c;
    }
    *p++ = '"';
    return p;
}

char* writeJsonString(char* p, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    *p++ = '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '"': put(p, "\\\""); break;
                case '\\': put(p, "\\\\"); break;
                case '\n': put(p, "\\n"); break;
                case '\r': put(p, "\\r"); break;
                case '\t': put(p, "\\t"); break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
                        put(p, std::string_view(esc, 6));
                    } else {
                        *p++ = static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        const std::size_t n = utf8Length(text, i);
        if (n == 0) {
            put(p, "\xEF\xBF\xBD");
            ++i;
        } else {
            put(p, text.substr(i, n));
            i += n;
        }
    }
    *p++ = '"';
    return p;
}

std::string jsonQuoted(std::string_view text) {
    std::string out(textRoom(text.size()), '\0');
    char* end = writeJsonString(out.data(), text);
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}

}  // namespace voktool
