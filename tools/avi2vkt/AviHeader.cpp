#include "AviHeader.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace avi2vkt {

namespace {

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool isId(const unsigned char* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool readAt(std::FILE* f, std::uint64_t offset, void* out, std::size_t n) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
#if defined(_WIN32)
    if (_fseeki64(f, static_cast<__int64>(offset), SEEK_SET) != 0) return false;
#else
    if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
#endif
    return std::fread(out, 1, n, f) == n;
}

// Walks the chunks of body (the contents of a list after its type) for the
// main header and the OpenDML header.
bool parseHeaderList(const unsigned char* body, std::size_t size, AviHeader& header, bool& haveMain,
                     bool& haveExtended, std::uint32_t& extendedFrames, std::string& error, int depth) {
    std::size_t at = 0;
    while (size - at >= 8) {
        const unsigned char* chunk = body + at;
        const std::uint32_t chunkSize = le32(chunk + 4);
        if (chunkSize > size - at - 8) {
            error = "damaged header list: a chunk runs past its end";
            return false;
        }
        const unsigned char* data = chunk + 8;
        if (isId(chunk, "avih")) {
            if (chunkSize < kMainHeaderSize) {
                error = "damaged 'avih' main header: " + std::to_string(chunkSize) + " bytes";
                return false;
            }
            header.microSecPerFrame = le32(data);
            header.mainHeaderFrames = le32(data + 16);
            header.streams = le32(data + 24);
            header.width = le32(data + 32);
            header.height = le32(data + 36);
            haveMain = true;
        } else if (isId(chunk, "dmlh") && chunkSize >= 4) {
            extendedFrames = le32(data);
            haveExtended = true;
        } else if (isId(chunk, "LIST") && chunkSize >= 4 && isId(data, "odml") && depth == 0) {
            if (!parseHeaderList(data + 4, chunkSize - 4, header, haveMain, haveExtended, extendedFrames,
                                 error, depth + 1)) {
                return false;
            }
        }
        // Chunks are padded to an even size; the pad may be missing at the
        // very end.
        const std::size_t step = 8 + static_cast<std::size_t>(chunkSize) + (chunkSize & 1u);
        if (step > size - at) break;
        at += step;
    }
    return true;
}

}  // namespace

bool readAviHeader(const std::string& path, AviHeader& header, std::string& error) {
    header = AviHeader{};
    std::error_code ec;
    const std::uintmax_t fileSize = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "cannot read " + path + ": " + ec.message();
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    header.fileSize = fileSize;
    unsigned char riff[12];
    if (fileSize < sizeof riff || !readAt(file.get(), 0, riff, sizeof riff) || !isId(riff, "RIFF") ||
        !isId(riff + 8, "AVI ")) {
        error = path + " is not an AVI file (no RIFF 'AVI ' header)";
        return false;
    }
    // The first RIFF ends where its size says, or where the file does.
    std::uint64_t end = 8 + static_cast<std::uint64_t>(le32(riff + 4));
    if (end > fileSize) end = fileSize;

    std::uint64_t at = sizeof riff;
    while (at < end && end - at >= 8) {
        unsigned char chunk[12];
        if (!readAt(file.get(), at, chunk, 8)) {
            error = "cannot read " + path;
            return false;
        }
        const std::uint32_t size = le32(chunk + 4);
        const std::uint64_t dataEnd = at + 8 + size;
        if (isId(chunk, "LIST")) {
            if (size < 4 || !readAt(file.get(), at + 8, chunk + 8, 4)) {
                error = path + ": damaged list at offset " + std::to_string(at);
                return false;
            }
            if (isId(chunk + 8, "hdrl")) {
                if (dataEnd > end) {
                    error = path + ": the 'hdrl' header list runs past the end of the file";
                    return false;
                }
                if (size - 4 > kMaxHeaderListSize) {
                    error = path + ": the 'hdrl' header list is implausibly large";
                    return false;
                }
                std::vector<unsigned char> body(size - 4);
                if (!body.empty() && !readAt(file.get(), at + 12, body.data(), body.size())) {
                    error = "cannot read " + path;
                    return false;
                }
                bool haveMain = false;
                bool haveExtended = false;
                std::uint32_t extendedFrames = 0;
                std::string why;
                if (!parseHeaderList(body.data(), body.size(), header, haveMain, haveExtended, extendedFrames,
                                     why, 0)) {
                    error = path + ": " + why;
                    return false;
                }
                if (!haveMain) {
                    error = path + ": no 'avih' main header";
                    return false;
                }
                header.totalFrames = header.mainHeaderFrames;
                if (haveExtended && extendedFrames > header.totalFrames) {
                    header.totalFrames = extendedFrames;
                }
                return true;
            }
            if (isId(chunk + 8, "movi")) break;
        }
        at = dataEnd + (size & 1u);
    }
    error = path + ": no 'hdrl' header list before the frame data";
    return false;
}

}  // namespace avi2vkt
