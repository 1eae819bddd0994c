#include "FuzzCorpus.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "ExtraLogWriter.h"
#include "VokWriter.h"

namespace vokgen {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A samples block at 1000 Hz with both eyes, written byte by byte: a
// fixation, a message, a blink start and a fixation end inside.
Bytes handBuiltRecording() {
    VokWriter w;
    w.magic().standardPreamble(2, 4).endPreamble();
    w.u16(15 << 8)
        .u8(33)
        .u32(1000)
        .u8(65)
        .u32(1000u << 16)
        .u8(48)
        .i16(10)
        .u8(81)
        .i16(10)
        .u8(180)
        .u16(0xC401)
        .u8(0);
    for (int i = 0; i < 40; ++i) {
        if (i == 0) {
            w.u16(0xE401).u32(1000);
        } else {
            w.u16(0xC401).u8(i == 20 ? 3 : 1);
        }
        w.i16(static_cast<std::int16_t>(5000 + i)).i16(3000).i16(5100).i16(3100);
        if (i == 10) w.u16(7 << 8).u8(33).u32(1005).u8(0);
        if (i == 30) w.u16(8 << 8).u8(33).u32(1005).u8(65).u32(1029).u8(0);
        if (i == 15) w.u16(24 << 8).u8(33).u32(1015).u8(94).i16(5).raw("hello").u8(0);
    }
    w.u16(16 << 8).u8(65).u32(1045).u8(0);
    w.u16(0);
    return w.bytes();
}

GenOptions small(std::uint64_t seed, int rate, std::uint32_t durationMs) {
    GenOptions o;
    o.seed = seed;
    o.sampleRate = rate;
    o.durationMs = durationMs;
    o.startTime = 1000;
    o.pauseMs = 40;
    o.buttonPresses = 1;
    o.inputChanges = 1;
    o.expectation = Expectation::None;
    return o;
}

Bytes withPrefix(std::initializer_list<std::uint8_t> prefix, const Bytes& body) {
    Bytes out(prefix);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void appendU32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void appendText(Bytes& out, const std::string& text) {
    out.push_back(static_cast<std::uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

Bytes navInput(std::uint8_t options, const Bytes& script, const Bytes& recording) {
    Bytes out{options, static_cast<std::uint8_t>(script.size())};
    out.insert(out.end(), script.begin(), script.end());
    out.insert(out.end(), recording.begin(), recording.end());
    return out;
}

std::uint8_t op(NavOp o) { return static_cast<std::uint8_t>(o); }

// A little-endian lookup table file of the given (frame, time, correction)
// records.
Bytes lookupTable(std::int32_t count, const std::vector<std::array<std::uint32_t, 3>>& records) {
    Bytes out;
    auto le32 = [&out](std::uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
    };
    le32(static_cast<std::uint32_t>(count));
    le32(0xAE5A1000u);
    for (const auto& r : records) {
        le32(r[0]);
        le32(r[1]);
        out.push_back(static_cast<std::uint8_t>(r[2]));
        out.push_back(static_cast<std::uint8_t>(r[2] >> 8));
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

Bytes floatsBytes(const float (&values)[10]) {
    Bytes out(sizeof values);
    std::memcpy(out.data(), values, sizeof values);
    return out;
}

}  // namespace

std::vector<Bytes> fuzzRecordings() {
    std::vector<Bytes> recordings;
    recordings.push_back(handBuiltRecording());

    GenOptions a = small(1, 1000, 120);
    a.blocks = 2;
    a.gaps = true;
    recordings.push_back(generateRecording(a).bytes);

    GenOptions b = small(2, 2000, 50);
    b.eyes = Eye::Left;
    b.sampleGroups |= 0x0010 | 0x0080 | 0x0008 | 0x0004;  // head data, errors, both skippable blocks
    recordings.push_back(generateRecording(b).bytes);

    GenOptions c = small(3, 250, 400);
    c.eyes = Eye::Right;
    c.trialsPerBlock = 2;
    c.fullTimeEvery = 10;
    recordings.push_back(generateRecording(c).bytes);

    GenOptions d = small(4, 500, 160);
    d.compressed = true;
    d.blocks = 2;
    recordings.push_back(generateRecording(d).bytes);
    return recordings;
}

Bytes compressRecordStream(const Bytes& recording) {
    static const char kEnd[] = "ENDP:\n";
    const auto endp = std::search(recording.begin(), recording.end(), kEnd, kEnd + 6);
    const auto firstLine = std::find(recording.begin(), recording.end(), '\n');
    if (endp == recording.end() || firstLine == recording.end() || firstLine > endp) return recording;
    static const char kMagic[] = "ZK_MORAVELT_7700FILE ZIP\n";
    if (std::search(recording.begin(), firstLine, kMagic, kMagic + 24) != firstLine) return recording;
    const std::size_t body = static_cast<std::size_t>(endp - recording.begin()) + 6;
    Bytes out(kMagic, kMagic + sizeof kMagic - 1);
    out.insert(out.end(), firstLine + 1, recording.begin() + static_cast<long>(body));
    uLongf packed = compressBound(static_cast<uLong>(recording.size() - body));
    const std::size_t head = out.size();
    out.resize(head + packed);
    if (compress2(out.data() + head, &packed, recording.data() + body,
                  static_cast<uLong>(recording.size() - body), 1) != Z_OK) {
        throw std::runtime_error("zlib cannot compress the record stream");
    }
    out.resize(head + packed);
    return out;
}

Bytes extraMessageRecording() {
    GenOptions o = small(5, 500, 100);
    o.trialsPerBlock = 1;
    return generateRecording(o).bytes;
}

std::vector<HeavyRecording> heavyRecordings(std::size_t targetBytes) {
    std::vector<HeavyRecording> all;
    auto head = [](VokWriter& w, Magic magic = Magic::Plain7700) {
        w.magic(magic).standardPreamble(2, 4).endPreamble();
        BlockStartSpec b;
        b.time = 1000;
        w.startSamples(b).startEvents(b);
    };
    {
        VokWriter w;
        head(w);
        SampleSpec s;
        s.flags = VOK_SAMPLE_IS_SAMPLE | VOK_SAMPLE_FULLTIME;
        // Three samples one period apart let the reader measure the period.
        for (s.time = 1000; s.time < 1002; ++s.time) w.sample(s);
        for (; w.size() < targetBytes; s.time += 9000) w.sample(s);
        w.endOfRecords();
        all.push_back({"gaps after every sample", w.bytes()});
    }
    {
        VokWriter w;
        w.magic().standardPreamble(2, 4).endPreamble();
        BlockStartSpec b;
        for (b.time = 1000; w.size() < targetBytes; b.time += 2) {
            w.startSamples(b).startEvents(b).endSamples(b.time + 1).endEvents(b.time + 1);
        }
        w.endOfRecords();
        all.push_back({"recording blocks only", w.bytes()});
    }
    {
        VokWriter w;
        head(w);
        for (std::uint32_t t = 1001; w.size() < targetBytes; ++t)
            w.message(t, t % 2 != 0 ? "TRIAL_START" : "TRIAL_END");
        w.endOfRecords();
        all.push_back({"messages only", w.bytes()});
    }
    {
        VokWriter w;
        head(w);
        for (std::uint32_t t = 1001; w.size() < targetBytes; t += 3) {
            w.beginEvent(SBLINK, kEyeLeftBits).fieldU32(33, t).endEvent();
            w.beginEvent(EBLINK, kEyeRightBits).fieldU32(33, t).fieldU32(65, t + 1).endEvent();
        }
        w.endOfRecords();
        all.push_back({"blinks only", w.bytes()});
    }
    {
        VokWriter w;
        head(w, Magic::Compressed);
        w.setCompressionLevel(9);
        const std::size_t zeros = targetBytes * 1000;
        w.reserve(w.size() + zeros);
        for (std::size_t i = 0; i < zeros; ++i) w.u8(0);
        all.push_back({"compressed body of end markers", w.fileBytes()});
    }
    return all;
}

std::vector<FuzzSeed> fuzzCorpus() {
    std::vector<FuzzSeed> seeds;
    const std::vector<Bytes> recordings = fuzzRecordings();
    for (std::size_t i = 0; i < recordings.size(); ++i) {
        const Bytes& r = recordings[i];
        const std::string n = std::to_string(i);
        // Every consistency level, tolerant reading, a compressed copy.
        seeds.push_back({"open_walk_fuzz", "rec" + n + "-plain", withPrefix({0x00}, r)});
        seeds.push_back({"open_walk_fuzz", "rec" + n + "-repair", withPrefix({0x02}, r)});
        seeds.push_back({"open_walk_fuzz", "rec" + n + "-check-tolerant", withPrefix({0x05}, r)});
        seeds.push_back({"open_walk_fuzz", "rec" + n + "-compressed", withPrefix({kFuzzCompress | 0x03}, r)});

        Bytes script;
        script.push_back(op(NavOp::SetIdentifiers));
        appendText(script, "TRIAL_START");
        appendText(script, "TRIAL_END");
        for (NavOp o : {NavOp::NextTrial, NavOp::TrialHeader, NavOp::SetBookmark, NavOp::NextTrial})
            script.push_back(op(o));
        script.push_back(op(NavOp::Step));
        script.push_back(5);
        script.push_back(op(NavOp::SetBookmark));
        script.push_back(op(NavOp::TrialWithStartTime));
        appendU32(script, 0xFFFFFFFFu);
        script.push_back(op(NavOp::GotoBookmark));
        script.push_back(1);
        script.push_back(op(NavOp::SampleAtTime));
        appendU32(script, 0xFFFFFFFFu);
        for (NavOp o : {NavOp::PreviousBookmark, NavOp::NextBookmark, NavOp::PreviousTrial})
            script.push_back(op(o));
        script.push_back(op(NavOp::FreeBookmark));
        script.push_back(0);
        seeds.push_back({"nav_fuzz", "rec" + n + "-messages", navInput(0x02, script, r)});

        Bytes blocks{op(NavOp::JumpToTrial),
                     1,
                     op(NavOp::Step),
                     20,
                     op(NavOp::TrialWithEndTime),
                     0xFF,
                     0xFF,
                     0xFF,
                     0xFF,
                     op(NavOp::SampleAtTime)};
        appendU32(blocks, 1010);
        blocks.push_back(op(NavOp::SetIdentifiers));
        appendText(blocks, "inPut_type_1");
        appendText(blocks, "0");
        blocks.push_back(op(NavOp::NextTrial));
        seeds.push_back({"nav_fuzz", "rec" + n + "-blocks-inputs", navInput(0x00, blocks, r)});

        const float setup[10] = {600.0f,  1e8f, -200.0f, 150.0f,  200.0f,
                                 -150.0f, 0.0f, 0.0f,    1279.0f, 1023.0f};
        Bytes measures{static_cast<std::uint8_t>(i % 3)};
        const Bytes s = floatsBytes(setup);
        measures.insert(measures.end(), s.begin(), s.end());
        measures.insert(measures.end(), r.begin(), r.end());
        seeds.push_back({"measures_fuzz", "rec" + n, measures});
    }
    const float twoDistances[10] = {550.0f,  650.0f, -260.0f, 170.0f,  260.0f,
                                    -170.0f, 0.0f,   0.0f,    1919.0f, 1079.0f};
    Bytes measures{0x02};
    const Bytes s = floatsBytes(twoDistances);
    measures.insert(measures.end(), s.begin(), s.end());
    measures.insert(measures.end(), recordings[2].begin(), recordings[2].end());
    seeds.push_back({"measures_fuzz", "two-distances", measures});

    ExtraLogWriter log;
    log.line("** a header line before the first synchronisation").sync(5000.0, 1000.0);
    for (int i = 0; i < 8; ++i) log.message(5010.0 + 10.0 * i, "extra message " + std::to_string(i));
    log.line("no number here").sync(5090.5, 1090.0, 3).message(5095.25, "after the second sync").quit(5099.0);
    const std::string& text = log.text();
    Bytes extra{0x00};
    extra.insert(extra.end(), text.begin(), text.end());
    seeds.push_back({"extra_messages_fuzz", "complete-log", extra});
    ExtraLogWriter unfinished;
    unfinished.sync(0.0, 1000.0).message(10.0, "no quit line").line("12.5 TRACKER_TIME bad");
    Bytes partial{0x06};
    partial.insert(partial.end(), unfinished.text().begin(), unfinished.text().end());
    seeds.push_back({"extra_messages_fuzz", "no-quit", partial});

    seeds.push_back({"video_lookup_fuzz", "frames",
                     lookupTable(5, {{{1, 1000, 0}},
                                     {{2, 1033, 0x2003}},
                                     {{2, 1040, 0}},
                                     {{3, 1066, 5}},
                                     {{0x80000004u, 1100, 0}}})});
    seeds.push_back({"video_lookup_fuzz", "empty", lookupTable(0, {})});
    seeds.push_back({"video_lookup_fuzz", "count-too-large", lookupTable(1000, {{{1, 5, 0}}})});
    return seeds;
}

std::size_t writeFuzzCorpus(const std::filesystem::path& dir) {
    std::size_t written = 0;
    for (const FuzzSeed& seed : fuzzCorpus()) {
        const std::filesystem::path folder = dir / seed.target;
        std::filesystem::create_directories(folder);
        const std::filesystem::path path = folder / seed.name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(seed.bytes.data()),
                  static_cast<std::streamsize>(seed.bytes.size()));
        out.close();
        if (!out) throw std::runtime_error("cannot write " + path.string());
        ++written;
    }
    return written;
}

}  // namespace vokgen
