// Compressed recordings: the inflater on its own (results, damage,
// truncation, the size bound, I/O failures) and opening, which inflates the
// body into a temporary file that lives exactly as long as the file object.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "format/Inflate.h"
#include "nav/VOKFile.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

namespace fs = std::filesystem;

// ---- making bodies and compressed streams ----

// Writer words: a repetitive run (compresses well) followed by pseudo-random
// words (hardly compresses), so that both the input and the output of the
// inflater span many buffers.
void appendBody(vokgen::VokWriter& w, std::size_t repetitiveWords, std::size_t randomWords,
                std::uint32_t seed = 12345) {
    for (std::size_t i = 0; i < repetitiveWords; ++i) w.u32(static_cast<std::uint32_t>(i % 97));
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < randomWords; ++i) {
        x = x * 1664525u + 1013904223u;
        w.u32(x);
    }
}

std::string bytesOf(const vokgen::VokWriter& w, std::size_t from = 0) {
    return std::string(reinterpret_cast<const char*>(w.bytes().data()) + from, w.size() - from);
}

std::string body(std::size_t repetitiveWords, std::size_t randomWords) {
    vokgen::VokWriter w;
    appendBody(w, repetitiveWords, randomWords);
    return bytesOf(w);
}

std::string zlibCompress(const std::string& data, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    int r = compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                      reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), level);
    if (r != Z_OK) throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

// Deflates with the given window bits (31 gzip, -15 raw, 15 zlib), optionally
// with a preset dictionary.
std::string deflateWith(const std::string& data, int windowBits, const std::string& dictionary = "") {
    z_stream s{};
    if (deflateInit2(&s, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    if (!dictionary.empty())
        deflateSetDictionary(&s, reinterpret_cast<const Bytef*>(dictionary.data()),
                             static_cast<uInt>(dictionary.size()));
    std::string out(deflateBound(&s, static_cast<uLong>(data.size())) + 64, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    if (deflate(&s, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate failed");
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// A zlib stream that carries intact a full-flushed first part and then an
// invalid block (final bit set, reserved block type).
std::string streamDamagedAfter(const std::string& intact) {
    z_stream s{};
    deflateInit(&s, 6);
    std::string out(deflateBound(&s, static_cast<uLong>(intact.size())) + 64, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(intact.data()));
    s.avail_in = static_cast<uInt>(intact.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    if (deflate(&s, Z_FULL_FLUSH) != Z_OK) throw std::runtime_error("deflate failed");
    out.resize(s.total_out);
    deflateEnd(&s);
    return out + std::string("\x07\xff\xff\x00\x12\x34", 6) + std::string(20000, 'x');
}

// Everything zlib itself makes of a stream, all input given at once, up to
// its end or its first error.
std::string inflateReference(const std::string& compressed) {
    z_stream s{};
    inflateInit(&s);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    s.avail_in = static_cast<uInt>(compressed.size());
    std::string out;
    std::vector<unsigned char> buffer(1 << 20);
    int r;
    do {
        s.next_out = buffer.data();
        s.avail_out = static_cast<uInt>(buffer.size());
        r = inflate(&s, Z_NO_FLUSH);
        out.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - s.avail_out);
    } while (r == Z_OK && s.avail_out == 0);
    inflateEnd(&s);
    return out;
}

bool isPrefix(const std::string& prefix, const std::string& whole) {
    return prefix.size() <= whole.size() && whole.compare(0, prefix.size(), prefix) == 0;
}

// ---- files ----

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string slurp(std::FILE* f) {
    std::string out;
    std::rewind(f);
    char buffer[8192];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    return out;
}

std::string slurp(const std::string& path) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) throw std::runtime_error("cannot read " + path);
    return slurp(f.get());
}

std::string readAll(InputStream& stream) {
    std::string out;
    char buffer[8192];
    std::size_t n;
    while ((n = stream.read(buffer, sizeof buffer)) > 0) out.append(buffer, n);
    return out;
}

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
    return files;
}

struct InflateRun {
    int result;
    std::string output;
};

// Runs the inflater over input (from offset skip) into a fresh file.
InflateRun inflateBytes(const std::string& input, std::uint64_t limit = kMaxInflatedSize,
                        long skip = 0) {
    test::TempDir dir;
    std::string inPath = dir.write("in.z", input);
    File in(std::fopen(inPath.c_str(), "rb"));
    File out(std::fopen((dir.path() / "out").string().c_str(), "w+b"));
    if (!in || !out) throw std::runtime_error("cannot open test files");
    std::fseek(in.get(), skip, SEEK_SET);
    int result = inflateBody(in.get(), out.get(), limit);
    return {result, slurp(out.get())};
}

class InflatedSizeLimitOverride {
public:
    explicit InflatedSizeLimitOverride(std::uint64_t limit) : previous_(setInflatedSizeLimit(limit)) {}
    ~InflatedSizeLimitOverride() { setInflatedSizeLimit(previous_); }
    InflatedSizeLimitOverride(const InflatedSizeLimitOverride&) = delete;
    InflatedSizeLimitOverride& operator=(const InflatedSizeLimitOverride&) = delete;

private:
    std::uint64_t previous_;
};

// A compressed recording: plain head, then compressedBody.
std::string compressedRecording(const std::string& compressedBody,
                                vokgen::Magic magic = vokgen::Magic::Compressed) {
    vokgen::VokWriter w;
    w.magic(magic).standardPreamble(2, 4).endPreamble();
    return bytesOf(w) + compressedBody;
}

// A recording whose body the writer makes and zlib compresses afterwards.
std::string compressedRecording(std::size_t repetitiveWords, std::size_t randomWords,
                                vokgen::Magic magic, std::string& plainBody) {
    vokgen::VokWriter w;
    w.magic(magic).standardPreamble(2, 4).endPreamble();
    appendBody(w, repetitiveWords, randomWords);
    plainBody = bytesOf(w, w.bodyOffset());
    return bytesOf(w).substr(0, w.bodyOffset()) + zlibCompress(plainBody);
}

struct Opened {
    VOKFile* file;
    int err;
    std::string log;
};

Opened open(const std::string& path, int consistency = 0) {
    test::LogCapture capture;
    Opened r{nullptr, 99, ""};
    r.file = vok_open_file(path.c_str(), consistency, 1, 1, &r.err);
    r.log = capture.text();
    return r;
}

// ---------------------------------------------------------------------------

TEST(InflateBody, RoundTripsAcrossManyBuffers) {
    struct Case {
        const char* name;
        std::string data;
        int level;
    };
    const Case cases[] = {
        {"empty", "", 6},
        {"one byte", "x", 6},
        {"1 MiB that compresses well: many outputs per input", body(250'000, 12), 9},
        {"incompressible, stored: many inputs", body(0, 60'000), 0},
        {"mixed", body(40'000, 40'000), 1},
    };
    for (const Case& c : cases) {
        InflateRun run = inflateBytes(zlibCompress(c.data, c.level));
        EXPECT_EQ(run.result, kInflateOk) << c.name;
        EXPECT_TRUE(run.output == c.data) << c.name << ": " << run.output.size() << " bytes of "
                                          << c.data.size();
    }
}

TEST(InflateBody, MalformedStreamsAreDataErrorsAndInflateNothing) {
    const std::string data = body(2'000, 2'000);
    struct Case {
        const char* name;
        std::string input;
    };
    const Case cases[] = {
        {"empty input", ""},
        {"one header byte", zlibCompress(data).substr(0, 1)},
        {"header only", zlibCompress(data).substr(0, 2)},
        {"garbage", std::string(40'000, '\xA5')},
        {"gzip format", deflateWith(data, 31)},
        {"raw deflate", deflateWith(data, -15)},
        {"preset dictionary", deflateWith(data, 15, "a dictionary the reader does not have")},
    };
    for (const Case& c : cases) {
        InflateRun run = inflateBytes(c.input);
        EXPECT_EQ(run.result, Z_DATA_ERROR) << c.name;
        EXPECT_EQ(run.output.size(), 0u) << c.name;
    }
}

TEST(InflateBody, TruncatedStreamYieldsExactlyWhatPrecedesTheCut) {
    const std::string data = body(30'000, 30'000);
    const std::string compressed = zlibCompress(data);
    for (std::size_t cut : {std::size_t{3}, std::size_t{100}, compressed.size() / 3, compressed.size() / 2,
                            compressed.size() - 5, compressed.size() - 1}) {
        std::string truncated = compressed.substr(0, cut);
        InflateRun run = inflateBytes(truncated);
        EXPECT_EQ(run.result, Z_DATA_ERROR) << "cut at " << cut;
        EXPECT_TRUE(isPrefix(run.output, data)) << "cut at " << cut;
        EXPECT_EQ(run.output.size(), inflateReference(truncated).size()) << "cut at " << cut;
    }
    // Only the checksum missing: every byte was inflated, yet the stream did
    // not end properly.
    InflateRun noChecksum = inflateBytes(compressed.substr(0, compressed.size() - 4));
    EXPECT_EQ(noChecksum.result, Z_DATA_ERROR);
    EXPECT_TRUE(noChecksum.output == data);
}

TEST(InflateBody, DamageKeepsWhatWasInflatedBeforeIt) {
    // The bytes inflated in the same call that meets the damage are kept as
    // well, whether the intact part fits one output buffer or spans several.
    for (std::size_t words : {std::size_t{25}, std::size_t{10'000}, std::size_t{100'000}}) {
        std::string intact = body(words, words);
        InflateRun run = inflateBytes(streamDamagedAfter(intact));
        EXPECT_EQ(run.result, Z_DATA_ERROR) << words;
        EXPECT_TRUE(run.output == intact) << words << ": " << run.output.size() << " bytes of "
                                          << intact.size();
    }
    std::string data = body(5'000, 5'000);
    std::string badChecksum = zlibCompress(data);
    badChecksum.back() = static_cast<char>(badChecksum.back() ^ 0x01);
    InflateRun run = inflateBytes(badChecksum);
    EXPECT_EQ(run.result, Z_DATA_ERROR);
    EXPECT_TRUE(run.output == data);
}

TEST(InflateBody, ReadsFromTheCurrentOffsetAndIgnoresBytesAfterTheEnd) {
    const std::string data = body(20'000, 3'000);
    InflateRun run = inflateBytes("head bytes\n" + zlibCompress(data) + "trailing bytes", kMaxInflatedSize, 11);
    EXPECT_EQ(run.result, kInflateOk);
    EXPECT_TRUE(run.output == data);
}

TEST(InflateBody, SizeLimitStopsBeforeTheOutputReachesIt) {
    const std::string data = body(10'000, 5'000);  // 60000 bytes, several output buffers
    const std::string compressed = zlibCompress(data);
    InflateRun under = inflateBytes(compressed, data.size() + 1);
    EXPECT_EQ(under.result, kInflateOk);
    EXPECT_TRUE(under.output == data);
    for (std::uint64_t limit : {std::uint64_t{data.size()}, std::uint64_t{20'000}, std::uint64_t{1},
                                std::uint64_t{0}}) {
        InflateRun over = inflateBytes(compressed, limit);
        EXPECT_EQ(over.result, kInflateTooLarge) << limit;
        EXPECT_LT(over.output.size(), std::max<std::uint64_t>(limit, 1)) << limit;
        EXPECT_TRUE(isPrefix(over.output, data)) << limit;
    }
    // A small stream that inflates to far more than the limit stops early.
    InflateRun bomb = inflateBytes(zlibCompress(std::string(32u << 20, '\0'), 9), 1u << 20);
    EXPECT_EQ(bomb.result, kInflateTooLarge);
    EXPECT_LT(bomb.output.size(), 1u << 20);
}

TEST(InflateBody, ReadAndWriteFailuresReturnMinusOne) {
    test::TempDir dir;
    const std::string data = body(1'000, 1'000);
    std::string inPath = dir.write("in.z", zlibCompress(data));
    std::string readOnlyPath = dir.write("ro", std::string("x"));

    File in(std::fopen(inPath.c_str(), "rb"));
    File readOnlyOut(std::fopen(readOnlyPath.c_str(), "rb"));
    ASSERT_TRUE(in && readOnlyOut);
    EXPECT_EQ(inflateBody(in.get(), readOnlyOut.get()), kInflateIoError);

    File writeOnlyIn(std::fopen((dir.path() / "wo").string().c_str(), "wb"));
    File out(std::fopen((dir.path() / "out").string().c_str(), "w+b"));
    ASSERT_TRUE(writeOnlyIn && out);
    EXPECT_EQ(inflateBody(writeOnlyIn.get(), out.get()), kInflateIoError);
}

// ---------------------------------------------------------------------------

TEST(CompressedOpen, InflatesIntoATempFileThatCloseDeletes) {
    struct Case {
        vokgen::Magic magic;
        std::size_t repetitiveWords, randomWords;
    };
    // The small one lies wholly in the stream's first read-ahead; the large
    // one's compressed body is several times longer.
    const Case cases[] = {
        {vokgen::Magic::Compressed, 300, 20},
        {vokgen::Magic::CompressedCrlf, 300, 20},
        {vokgen::Magic::Compressed, 100'000, 100'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(vokgen::magicLine(c.magic) + std::to_string(c.randomWords));
        test::TempDir recordings;
        test::TempDir tmp;
        test::TempDirectoryOverride env(tmp.path());
        std::string plainBody;
        std::string path = recordings.write(
            "c.vok", compressedRecording(c.repetitiveWords, c.randomWords, c.magic, plainBody));

        Opened r = open(path);
        ASSERT_NE(r.file, nullptr) << r.log;
        EXPECT_EQ(r.err, 0);
        EXPECT_EQ(r.log, "");
        EXPECT_EQ(r.file->recording.reader.revision, 4) << "the plain head is read as a preamble";

        const std::string name = r.file->recording.tempFileName;
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(fs::path(name).filename().string().rfind("vokapi_", 0), 0u) << name;
        EXPECT_TRUE(fs::equivalent(fs::path(name).parent_path(), tmp.path())) << name;
        EXPECT_EQ(filesIn(tmp.path()).size(), 1u);
        EXPECT_TRUE(slurp(name) == plainBody);

        InputStream& stream = *r.file->recording.reader.stream;
        // The reading loop has been over it; the stream still re-reads from 0.
        EXPECT_EQ(stream.seek(0), 0);
        EXPECT_TRUE(readAll(stream) == plainBody);
        EXPECT_EQ(stream.position(), plainBody.size());
        EXPECT_EQ(stream.seek(4), 0);
        EXPECT_EQ(stream.readU32(), 1u) << "the inflated body can be re-read";

        vok_close_file(r.file);
        EXPECT_FALSE(fs::exists(name));
        EXPECT_TRUE(filesIn(tmp.path()).empty());
    }
}

TEST(CompressedOpen, PlainRecordingMakesNoTempFile) {
    test::TempDir recordings;
    test::TempDir tmp;
    test::TempDirectoryOverride env(tmp.path());
    Opened r = open(recordings.write("p.vok", test::minimalRecording()));
    ASSERT_NE(r.file, nullptr) << r.log;
    EXPECT_TRUE(r.file->recording.tempFileName.empty());
    EXPECT_TRUE(filesIn(tmp.path()).empty());
    vok_close_file(r.file);
}

TEST(CompressedOpen, TwoOpenRecordingsUseTwoTempFiles) {
    test::TempDir recordings;
    test::TempDir tmp;
    test::TempDirectoryOverride env(tmp.path());
    std::string bodyA, bodyB;
    std::string a = recordings.write("a.vok", compressedRecording(1'000, 50, vokgen::Magic::Compressed, bodyA));
    std::string b = recordings.write("b.vok", compressedRecording(50, 1'000, vokgen::Magic::Compressed, bodyB));

    Opened first = open(a);
    Opened second = open(b);
    ASSERT_NE(first.file, nullptr) << first.log;
    ASSERT_NE(second.file, nullptr) << second.log;
    const std::string nameA = first.file->recording.tempFileName;
    const std::string nameB = second.file->recording.tempFileName;
    EXPECT_NE(nameA, nameB);
    EXPECT_EQ(filesIn(tmp.path()).size(), 2u);

    vok_close_file(first.file);
    EXPECT_FALSE(fs::exists(nameA));
    ASSERT_TRUE(fs::exists(nameB));
    EXPECT_TRUE(slurp(nameB) == bodyB);
    second.file->recording.reader.stream->seek(0);
    EXPECT_TRUE(readAll(*second.file->recording.reader.stream) == bodyB);
    vok_close_file(second.file);
    EXPECT_FALSE(fs::exists(nameB));
}

TEST(CompressedOpen, ManyOpensInQuickSuccessionEachGetTheirOwnTempFile) {
    // Opened faster than any clock tick: unique names must not depend on
    // the time alone.
    test::TempDir recordings;
    test::TempDir tmp;
    test::TempDirectoryOverride env(tmp.path());
    std::string body;
    const std::string path = recordings.write("a.vok", compressedRecording(20, 5, vokgen::Magic::Compressed, body));
    std::vector<Opened> opened;
    std::set<std::string> names;
    for (int i = 0; i < 40; ++i) {
        opened.push_back(open(path));
        ASSERT_NE(opened.back().file, nullptr) << i << opened.back().log;
        names.insert(opened.back().file->recording.tempFileName);
    }
    EXPECT_EQ(names.size(), 40u);
    EXPECT_EQ(filesIn(tmp.path()).size(), 40u) << "no file is left beside the temporary files";
    for (Opened& o : opened) vok_close_file(o.file);
    EXPECT_TRUE(filesIn(tmp.path()).empty());
}

TEST(CompressedOpen, BodyReachingTheSizeLimitFailsAndLeavesNoTempFile) {
    test::TempDir recordings;
    test::TempDir tmp;
    test::TempDirectoryOverride env(tmp.path());
    std::string plainBody;
    std::string path =
        recordings.write("c.vok", compressedRecording(5'000, 5'000, vokgen::Magic::Compressed, plainBody));

    {
        InflatedSizeLimitOverride limit(plainBody.size());
        Opened r = open(path);
        EXPECT_EQ(r.file, nullptr);
        EXPECT_EQ(r.err, -1);
        EXPECT_EQ(r.log, "Decompressed recording is larger than 4 GiB \n\n");
        EXPECT_TRUE(filesIn(tmp.path()).empty());
    }
    {
        InflatedSizeLimitOverride limit(plainBody.size() + 1);
        Opened r = open(path);
        ASSERT_NE(r.file, nullptr) << r.log;
        vok_close_file(r.file);
    }
    EXPECT_EQ(inflatedSizeLimit(), kMaxInflatedSize);
}

TEST(CompressedOpen, MissingTempDirectoryFailsTheOpen) {
    test::TempDir recordings;
    test::TempDir tmp;
    test::TempDirectoryOverride env(tmp.path() / "does-not-exist");
    std::string plainBody;
    std::string path =
        recordings.write("c.vok", compressedRecording(100, 100, vokgen::Magic::Compressed, plainBody));
    Opened r = open(path);
    EXPECT_EQ(r.file, nullptr);
    EXPECT_EQ(r.err, -1);
    EXPECT_EQ(r.log, "Failed to create temp file \n\n");
}

TEST(CompressedOpen, DamagedBodyLoadsWhatWasInflatedBeforeTheDamage) {
    const std::string data = body(20'000, 20'000);
    const std::string compressed = zlibCompress(data);
    const std::string intact = body(3'000, 3'000);
    struct Case {
        const char* name;
        std::string compressedBody;
        std::string expected;
    };
    const Case cases[] = {
        {"cut in the middle", compressed.substr(0, compressed.size() / 2),
         inflateReference(compressed.substr(0, compressed.size() / 2))},
        {"invalid block after a flush point", streamDamagedAfter(intact), intact},
        {"garbage", std::string(5'000, '\x5A'), ""},
        {"nothing after the preamble", "", ""},
    };
    test::TempDir recordings;
    test::TempDir tmp;
    test::TempDirectoryOverride env(tmp.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Tolerant reading: the record stream simply ends where the
        // inflated bytes end.
        Opened r = open(recordings.write("d.vok", compressedRecording(c.compressedBody)), VOK_TOLERANT_READING);
        ASSERT_NE(r.file, nullptr) << r.log;
        EXPECT_EQ(r.err, 0);
        EXPECT_TRUE(slurp(r.file->recording.tempFileName) == c.expected);
        r.file->recording.reader.stream->seek(0);
        EXPECT_TRUE(readAll(*r.file->recording.reader.stream) == c.expected);
        vok_close_file(r.file);
        EXPECT_TRUE(filesIn(tmp.path()).empty());
    }
    // The cut case really is partial.
    EXPECT_GT(cases[0].expected.size(), 0u);
    EXPECT_LT(cases[0].expected.size(), data.size());
    EXPECT_TRUE(isPrefix(cases[0].expected, data));
}

}  // namespace
}  // namespace vok
