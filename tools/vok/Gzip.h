// A gzip file written in one stream: text is formatted into a buffer and
// deflated in large chunks.  The gzip header holds no file name and a zero
// time, so that the same text always gives the same bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "Output.h"

namespace voktool {

class GzipWriter {
public:
    // Creates (or truncates) the file; level 1 (fastest) to 9 (smallest).
    // Throws OutputError.
    GzipWriter(const std::string& path, int level);
    ~GzipWriter();
    GzipWriter(const GzipWriter&) = delete;
    GzipWriter& operator=(const GzipWriter&) = delete;

    // Room for n more bytes of text; hand the end of what was written to
    // commit().  n must be at most kRowRoom.
    char* reserve(std::size_t n) {
        if (static_cast<std::size_t>(end_ - pos_) < n) deflateBuffered();
        return pos_;
    }
    void commit(char* end) { pos_ = end; }
    void append(std::string_view text);

    // Ends the gzip stream and closes the file; throws OutputError.
    void finish();

    static constexpr std::size_t kRowRoom = 1 << 14;

private:
    void deflateBuffered();
    void run(int flush);

    struct Stream;
    std::unique_ptr<Stream> z_;
    Output out_;
    std::unique_ptr<char[]> text_;
    char* pos_;
    char* end_;
    bool finished_ = false;
};

}  // namespace voktool
