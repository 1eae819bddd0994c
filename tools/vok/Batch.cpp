#include "Batch.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "Session.h"
#include "System.h"
#include "Walk.h"

namespace voktool {

namespace {

bool hasVokExtension(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".vok";
}

constexpr int kBatchFailed = 1;  // the exit status of a recording that failed

// One recording of a batch run in a worker thread: its output waits in a
// scratch file, its error lines in memory, until its turn comes.
struct Slot {
    int out = -1;
    std::string errors;
    int status = 0;
    bool done = false;
    bool interrupted = false;

    Slot() = default;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    ~Slot() {
        if (out >= 0) closeFd(out);
    }
};

class BatchProgress {
public:
    BatchProgress(std::size_t total, bool enabled) : total_(total), enabled_(enabled && total > 1 && stderrIsTerminal()) {}
    void show(std::size_t done, const std::string& current) {
        if (!enabled_) return;
        fmt::print(stderr, "\r\x1b[K[{}/{}] {}", done, total_, current);
        std::fflush(stderr);
        shown_ = true;
    }
    void clear() {
        if (!shown_) return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

private:
    std::size_t total_;
    bool enabled_;
    bool shown_ = false;
};

}  // namespace

std::vector<std::string> expandInputs(const std::vector<std::string>& args, int& failures) {
    std::vector<std::string> out;
    for (const std::string& arg : args) {
        std::error_code ec;
        if (!std::filesystem::is_directory(arg, ec)) {
            out.push_back(arg);
            continue;
        }
        std::vector<std::string> found;
        for (std::filesystem::directory_iterator it(arg, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code fec;
            if (it->is_regular_file(fec) && hasVokExtension(it->path())) found.push_back(it->path().string());
        }
        if (ec) {
            fmt::print(stderr, "vok: {}: cannot list the folder: {}\n", arg, ec.message());
            ++failures;
            continue;
        }
        if (found.empty()) {
            fmt::print(stderr, "vok: {}: no .vok files in this folder\n", arg);
            ++failures;
            continue;
        }
        std::sort(found.begin(), found.end());
        out.insert(out.end(), found.begin(), found.end());
    }
    return out;
}

int runBatch(const std::vector<std::string>& paths, int jobs, Output& out, const BatchJoin& join,
             const RecordingTask& task, bool progress) {
    int worst = 0;
    bool anyOutput = false;
    out.append(join.prefix);

    if (jobs <= 1 || paths.size() <= 1) {
        // Tasks that are joined with a separator (JSON documents) always
        // write something, so the separator never dangles.
        for (const std::string& path : paths) {
            checkInterrupted();
            if (anyOutput) out.append(join.separator);
            const std::uint64_t start = out.total();
            worst = std::max(worst, task(path, out, anyOutput));
            const std::uint64_t after = out.total();
            if (after > start) anyOutput = true;
        }
        out.append(join.suffix);
        out.flush();
        return worst;
    }

    out.flush();
    std::vector<Slot> slots(paths.size());
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<std::size_t> next{0};
    std::size_t finished = 0;

    auto work = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= paths.size()) {
                Diagnostics::releaseThread();
                return;
            }
            Slot& slot = slots[i];
            ThreadReports reports;
            int status = kBatchFailed;
            bool stopped = interrupted();
            if (!stopped) {
                setThreadReports(&reports);
                try {
                    slot.out = scratchFile();
                    Output result(slot.out);
                    status = task(paths[i], result, false);
                    result.flush();
                } catch (const Interrupted&) {
                    stopped = true;
                } catch (const std::exception& e) {
                    reports.errors += fmt::format("vok: {}: {}\n", paths[i], e.what());
                    status = kBatchFailed;
                }
                setThreadReports(nullptr);
            }
            const std::lock_guard<std::mutex> hold(lock);
            slot.errors = std::move(reports.errors);
            slot.status = status;
            slot.interrupted = stopped;
            slot.done = true;
            ++finished;
            changed.notify_all();
        }
    };

    const std::size_t threadCount = std::min(paths.size(), static_cast<std::size_t>(jobs));
    std::vector<std::thread> threads;
    threads.reserve(threadCount);
    for (std::size_t t = 0; t < threadCount; ++t) threads.emplace_back(work);

    BatchProgress display(paths.size(), progress);
    bool stopped = false;
    auto emit = [&](Slot& slot) {
        display.clear();
        bool first = true;
        bool chunkHasOutput = false;
        bool skipping = join.dropRepeatedHeader && anyOutput;
        if (slot.out >= 0 && !rewindFd(slot.out)) throw OutputError("cannot read back a recording's output");
        char buf[1 << 16];
        for (long long n; slot.out >= 0 && (n = readFd(slot.out, buf, sizeof buf)) > 0;) {
            std::string_view data(buf, static_cast<std::size_t>(n));
            if (first) {
                if (anyOutput) out.append(join.separator);
                first = false;
            }
            if (skipping) {
                const std::size_t nl = data.find('\n');
                if (nl == std::string_view::npos) continue;
                data.remove_prefix(nl + 1);
                skipping = false;
            }
            out.append(data);
            chunkHasOutput = true;
        }
        out.flush();
        if (chunkHasOutput) anyOutput = true;
        if (!slot.errors.empty()) {
            std::fwrite(slot.errors.data(), 1, slot.errors.size(), stderr);
            std::fflush(stderr);
        }
        closeFd(slot.out);
        slot.out = -1;
        worst = std::max(worst, slot.status);
    };

    try {
        for (std::size_t emitted = 0; emitted < paths.size() && !stopped; ++emitted) {
            std::unique_lock<std::mutex> hold(lock);
            while (!slots[emitted].done) {
                display.show(finished, paths[emitted]);
                changed.wait_for(hold, std::chrono::milliseconds(250));
            }
            hold.unlock();
            if (slots[emitted].interrupted) {
                stopped = true;
                break;
            }
            emit(slots[emitted]);
        }
    } catch (...) {
        // The workers finish (or stop at the interrupt) before the error
        // goes on: nothing may run after the batch.
        for (std::thread& t : threads) t.join();
        throw;
    }
    for (std::thread& t : threads) t.join();
    display.clear();
    if (stopped || interrupted()) {
        out.flush();
        throw Interrupted();
    }
    out.append(join.suffix);
    out.flush();
    return worst;
}

}  // namespace voktool
