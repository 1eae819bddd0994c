#include "Batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fmt/format.h>

#include "Walk.h"

namespace voktool {

namespace {

bool hasVokExtension(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".vok";
}

// An unlinked temporary file for a worker's output.
int temporaryFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string name = fmt::format("{}/vok-worker-XXXXXX", dir != nullptr && *dir != '\0' ? dir : "/tmp");
    const int fd = ::mkstemp(name.data());
    if (fd < 0) throw OutputError(fmt::format("cannot create a temporary file: {}", std::strerror(errno)));
    ::unlink(name.c_str());
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

struct Worker {
    pid_t pid = -1;
    int out = -1, err = -1;
    bool done = false;
    int status = 0;
};

// Copies a worker's standard error to ours.
void replay(int fd) {
    ::lseek(fd, 0, SEEK_SET);
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) writeAll(STDERR_FILENO, buf, static_cast<std::size_t>(n));
}

class BatchProgress {
public:
    BatchProgress(std::size_t total, bool enabled) : total_(total), enabled_(enabled && total > 1 && Progress::terminal()) {}
    void show(std::size_t done, const std::string& current) {
        if (!enabled_) return;
        std::fprintf(stderr, "\r\x1b[K[%zu/%zu] %s", done, total_, current.c_str());
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
    std::vector<Worker> workers(paths.size());
    BatchProgress display(paths.size(), progress);
    std::size_t launched = 0, emitted = 0, running = 0, finished = 0;
    auto launch = [&](std::size_t i) {
        Worker& w = workers[i];
        w.out = temporaryFile();
        w.err = temporaryFile();
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid < 0) throw OutputError(fmt::format("cannot start a worker: {}", std::strerror(errno)));
        if (pid == 0) {
            ::dup2(w.err, STDERR_FILENO);
            int status = 1;
            try {
                Output result(w.out);
                status = task(paths[i], result, false);
                result.flush();
            } catch (const std::exception& e) {
                fmt::print(stderr, "vok: {}: {}\n", paths[i], e.what());
                status = 1;
            }
            std::fflush(nullptr);
            ::_exit(status);
        }
        w.pid = pid;
        ++running;
    };
    auto emit = [&](std::size_t i) {
        Worker& w = workers[i];
        display.clear();
        ::lseek(w.out, 0, SEEK_SET);
        bool first = true;
        bool chunkHasOutput = false;
        bool skipping = join.dropRepeatedHeader && anyOutput;
        char buf[1 << 16];
        for (ssize_t n; (n = ::read(w.out, buf, sizeof buf)) > 0;) {
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
        replay(w.err);
        ::close(w.out);
        ::close(w.err);
        worst = std::max(worst, w.status);
    };

    while (emitted < paths.size()) {
        while (running < static_cast<std::size_t>(jobs) && launched < paths.size()) launch(launched++);
        display.show(finished, paths[emitted]);
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            throw OutputError(fmt::format("waiting for the workers failed: {}", std::strerror(errno)));
        }
        for (Worker& w : workers) {
            if (w.pid != pid || w.done) continue;
            w.done = true;
            --running;
            ++finished;
            if (WIFEXITED(status)) {
                w.status = WEXITSTATUS(status);
            } else {
                w.status = 1;
                const std::string text = fmt::format("vok: {}: the worker ended by signal {}\n",
                                                     paths[static_cast<std::size_t>(&w - workers.data())],
                                                     WIFSIGNALED(status) ? WTERMSIG(status) : 0);
                const int fd = w.err;
                ::lseek(fd, 0, SEEK_END);
                writeAll(fd, text.data(), text.size());
            }
        }
        while (emitted < paths.size() && workers[emitted].done) emit(emitted++);
    }
    display.clear();
    out.append(join.suffix);
    out.flush();
    return worst;
}

}  // namespace voktool
