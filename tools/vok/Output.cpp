#include "Output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace voktool {

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

Output::~Output() {
    try {
        close();
    } catch (const OutputError&) {
        // A destructor cannot report; callers that care call close() first.
    }
}

int Output::openFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw OutputError(fmt::format("cannot create {}: {}", path, std::strerror(errno)));
    return fd;
}

void Output::flush() {
    if (buffer_.size() == 0) return;
    if (fd_ < 0) throw OutputError("output already closed");
    if (!writeAll(fd_, buffer_.data(), buffer_.size())) {
        const int err = errno;
        buffer_.clear();
        throw OutputError(fmt::format("write failed: {}", std::strerror(err)));
    }
    written_ += buffer_.size();
    buffer_.clear();
}

void Output::close() {
    if (fd_ < 0) return;
    flush();
    if (owned_) {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) throw OutputError(fmt::format("close failed: {}", std::strerror(errno)));
    }
}

void appendDelimitedText(fmt::memory_buffer& out, std::string_view text, char separator) {
    bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    for (char c : text) {
        if (c == separator || c == '"' || c == '\n' || c == '\r') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out.append(text.data(), text.data() + text.size());
        return;
    }
    out.push_back('"');
    for (char c : text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

namespace {

void put(fmt::memory_buffer& out, std::string_view text) { out.append(text.data(), text.data() + text.size()); }

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

void appendJsonString(fmt::memory_buffer& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '"': put(out, ("\\\"")); break;
                case '\\': put(out, ("\\\\")); break;
                case '\n': put(out, ("\\n")); break;
                case '\r': put(out, ("\\r")); break;
                case '\t': put(out, ("\\t")); break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
                        out.append(esc, esc + 6);
                    } else {
                        out.push_back(static_cast<char>(c));
                    }
            }
            ++i;
            continue;
        }
        const std::size_t n = utf8Length(text, i);
        if (n == 0) {
            put(out, ("\xEF\xBF\xBD"));
            ++i;
        } else {
            out.append(text.data() + i, text.data() + i + n);
            i += n;
        }
    }
    out.push_back('"');
}

}  // namespace voktool
