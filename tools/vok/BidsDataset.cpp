// The dataset-level files: dataset_description.json (written once, then left
// to its owner) and participants.tsv (merged: every subject folder gets a
// row, rows and columns already there are kept).
#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>

#include "Bids.h"
#include "Output.h"

namespace voktool {

namespace fs = std::filesystem;

namespace {

// Writes the text under a temporary name and renames it into place.
void replaceFile(const fs::path& path, const std::string& text) {
    std::random_device rd;
    const fs::path temp =
        path.parent_path() / fmt::format(".{}.{:08x}.partial", path.filename().string(), rd());
    try {
        Output out(Output::openFile(temp.string()), true);
        out.append(text);
        out.close();
        std::error_code ec;
        fs::rename(temp, path, ec);
        if (ec)
            throw OutputError(
                fmt::format("cannot rename {} to {}: {}", temp.string(), path.string(), ec.message()));
    } catch (...) {
        std::error_code ec;
        fs::remove(temp, ec);
        throw;
    }
}

}  // namespace

void finishDataset(const BidsOptions& options) {
    const fs::path root(options.dataset);
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) throw OutputError(fmt::format("cannot create the folder {}: {}", root.string(), ec.message()));

    const fs::path description = root / "dataset_description.json";
    if (!fs::exists(description)) {
        nlohmann::ordered_json j;
        std::string name = fs::absolute(root).lexically_normal().filename().string();
        if (name.empty()) name = fs::absolute(root).lexically_normal().parent_path().filename().string();
        j["Name"] = name.empty() ? "eye-tracking recordings" : name;
        j["BIDSVersion"] = "1.11.0";
        j["DatasetType"] = "raw";
        j["GeneratedBy"] = nlohmann::ordered_json::array({{{"Name", "vok bids"},
                                                           {"Description", "converted from .vok recordings"},
                                                           {"Version", vok_get_version()}}});
        replaceFile(description, j.dump(2) + "\n");
    }

    // participants.tsv: the rows already there, by participant_id, and one
    // for every subject folder that has none (n/a in the other columns).
    const fs::path participants = root / "participants.tsv";
    std::vector<std::string> header{"participant_id"};
    std::map<std::string, std::vector<std::string>> rows;
    if (std::ifstream in(participants, std::ios::binary); in) {
        std::string line;
        bool first = true;
        while (std::getline(in, line)) {
            std::vector<std::string> cells = splitTsvLine(line);
            if (cells.size() == 1 && cells.front().empty()) continue;
            if (first) {
                first = false;
                if (cells.empty() || cells.front() != "participant_id")
                    throw OutputError(fmt::format("{}: its first column is not participant_id; not changed",
                                                  participants.string()));
                header = cells;
                continue;
            }
            cells.resize(header.size(), "n/a");
            rows[cells.front()] = cells;
        }
    }
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code dec;
        if (name.rfind("sub-", 0) != 0 || !it->is_directory(dec)) continue;
        if (rows.count(name) != 0) continue;
        std::vector<std::string> cells(header.size(), "n/a");
        cells.front() = name;
        rows[name] = cells;
    }
    std::string text;
    auto line = [&](const std::vector<std::string>& cells) {
        for (std::size_t k = 0; k < cells.size(); ++k) text += (k ? "\t" : "") + cells[k];
        text += '\n';
    };
    line(header);
    for (const auto& [id, cells] : rows) line(cells);
    replaceFile(participants, text);
}

}  // namespace voktool
