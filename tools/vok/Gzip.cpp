#include "Gzip.h"

#include <fmt/format.h>
#include <zlib.h>

#include <cstring>

namespace voktool {

namespace {
constexpr std::size_t kTextBuffer = 1 << 18;
constexpr std::size_t kOutChunk = 1 << 16;
}  // namespace

struct GzipWriter::Stream {
    z_stream z{};
    gz_header header{};
    bool open = false;
};

GzipWriter::GzipWriter(const std::string& path, int level)
    : z_(new Stream), out_(Output::openFile(path), true), text_(new char[kTextBuffer]) {
    pos_ = text_.get();
    end_ = pos_ + kTextBuffer;
    // windowBits 15 + 16: a gzip wrapper instead of a zlib one.
    if (deflateInit2(&z_->z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw OutputError(fmt::format("{}: cannot start compressing", path));
    z_->open = true;
    // No name, no time, "unknown" system: the same bytes on every run and
    // platform.
    z_->header.time = 0;
    z_->header.os = 255;
    z_->header.name = Z_NULL;
    z_->header.comment = Z_NULL;
    z_->header.extra = Z_NULL;
    deflateSetHeader(&z_->z, &z_->header);
}

GzipWriter::~GzipWriter() {
    if (z_->open) deflateEnd(&z_->z);
}

void GzipWriter::append(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(end_ - pos_)) deflateBuffered();
    if (text.size() <= static_cast<std::size_t>(end_ - pos_)) {
        if (!text.empty()) std::memcpy(pos_, text.data(), text.size());
        pos_ += text.size();
        return;
    }
    // Longer than the whole buffer: straight to the compressor.
    z_->z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z_->z.avail_in = static_cast<uInt>(text.size());
    run(Z_NO_FLUSH);
}

void GzipWriter::run(int flush) {
    for (;;) {
        char* out = out_.reserve(kOutChunk);
        z_->z.next_out = reinterpret_cast<Bytef*>(out);
        z_->z.avail_out = static_cast<uInt>(kOutChunk);
        const int rc = deflate(&z_->z, flush);
        if (rc == Z_STREAM_ERROR) throw OutputError("compression failed");
        out_.commit(out + (kOutChunk - z_->z.avail_out));
        if (flush == Z_FINISH ? rc == Z_STREAM_END : (z_->z.avail_in == 0 && z_->z.avail_out != 0)) return;
    }
}

void GzipWriter::deflateBuffered() {
    z_->z.next_in = reinterpret_cast<Bytef*>(text_.get());
    z_->z.avail_in = static_cast<uInt>(pos_ - text_.get());
    if (z_->z.avail_in != 0) run(Z_NO_FLUSH);
    pos_ = text_.get();
}

void GzipWriter::finish() {
    if (finished_) return;
    deflateBuffered();
    run(Z_FINISH);
    deflateEnd(&z_->z);
    z_->open = false;
    finished_ = true;
    out_.close();
}

}  // namespace voktool
