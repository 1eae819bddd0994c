#include "Tables.h"

#include <stdexcept>

#include <fmt/format.h>

namespace voktool {

namespace {

using G = ColumnGroup;

constexpr Column kSampleColumns[] = {
    {"trial", G::Trial, "trial number (1-based); empty outside trials", col::STrial},
    {"block", G::Optional, "recording block number (1-based)", col::SBlock},
    {"time", G::Default, "ms; .5 marks the second sample of a millisecond", col::STime},
    {"left_gaze_x", G::Default, "left eye gaze x, display pixels", col::SLeftGazeX},
    {"left_gaze_y", G::Default, "left eye gaze y, display pixels", col::SLeftGazeY},
    {"right_gaze_x", G::Default, "right eye gaze x, display pixels", col::SRightGazeX},
    {"right_gaze_y", G::Default, "right eye gaze y, display pixels", col::SRightGazeY},
    {"left_pupil_size", G::Default, "left pupil size", col::SLeftPupilSize},
    {"right_pupil_size", G::Default, "right pupil size", col::SRightPupilSize},
    {"resolution_x", G::Default, "pixels per degree, x", col::SResolutionX},
    {"resolution_y", G::Default, "pixels per degree, y", col::SResolutionY},
    {"left_pupil_x", G::Default, "left pupil position x, camera units", col::SLeftPupilX},
    {"left_pupil_y", G::Default, "left pupil position y, camera units", col::SLeftPupilY},
    {"right_pupil_x", G::Default, "right pupil position x, camera units", col::SRightPupilX},
    {"right_pupil_y", G::Default, "right pupil position y, camera units", col::SRightPupilY},
    {"left_headref_x", G::Default, "left eye head-referenced x", col::SLeftHeadRefX},
    {"left_headref_y", G::Default, "left eye head-referenced y", col::SLeftHeadRefY},
    {"right_headref_x", G::Default, "right eye head-referenced x", col::SRightHeadRefX},
    {"right_headref_y", G::Default, "right eye head-referenced y", col::SRightHeadRefY},
    {"input", G::Default, "input port word", col::SInput},
    {"buttons", G::Default, "button word", col::SButtons},
    {"errors", G::Optional, "error word", col::SErrors},
    {"flags", G::Optional, "sample flags word (which groups the record carries)", col::SFlags},
    {"head_data_type", G::Optional, "type byte of the head data", col::SHeadDataType},
    {"head_data_0", G::Optional, "head-tracker / camera word 0", col::SHeadData0},
    {"head_data_1", G::Optional, "head-tracker / camera word 1", col::SHeadData1},
    {"head_data_2", G::Optional, "head-tracker / camera word 2", col::SHeadData2},
    {"head_data_3", G::Optional, "head-tracker / camera word 3", col::SHeadData3},
    {"head_data_4", G::Optional, "head-tracker / camera word 4", col::SHeadData4},
    {"head_data_5", G::Optional, "head-tracker / camera word 5", col::SHeadData5},
    {"head_data_6", G::Optional, "head-tracker / camera word 6", col::SHeadData6},
    {"head_data_7", G::Optional, "head-tracker / camera word 7", col::SHeadData7},
    {"left_gaze_vel_x", G::Velocity, "left gaze velocity x, deg/s", col::SLeftGazeVelX},
    {"left_gaze_vel_y", G::Velocity, "left gaze velocity y, deg/s", col::SLeftGazeVelY},
    {"right_gaze_vel_x", G::Velocity, "right gaze velocity x, deg/s", col::SRightGazeVelX},
    {"right_gaze_vel_y", G::Velocity, "right gaze velocity y, deg/s", col::SRightGazeVelY},
    {"left_gaze_speed", G::Velocity, "left gaze speed, deg/s (length of the velocity)", col::SLeftGazeSpeed},
    {"right_gaze_speed", G::Velocity, "right gaze speed, deg/s (length of the velocity)", col::SRightGazeSpeed},
    {"left_headref_vel_x", G::Velocity, "left head-referenced velocity x, deg/s", col::SLeftHeadRefVelX},
    {"left_headref_vel_y", G::Velocity, "left head-referenced velocity y, deg/s", col::SLeftHeadRefVelY},
    {"right_headref_vel_x", G::Velocity, "right head-referenced velocity x, deg/s", col::SRightHeadRefVelX},
    {"right_headref_vel_y", G::Velocity, "right head-referenced velocity y, deg/s", col::SRightHeadRefVelY},
    {"left_pupil_vel_x", G::Velocity, "left pupil-position velocity x, deg/s", col::SLeftPupilVelX},
    {"left_pupil_vel_y", G::Velocity, "left pupil-position velocity y, deg/s", col::SLeftPupilVelY},
    {"right_pupil_vel_x", G::Velocity, "right pupil-position velocity x, deg/s", col::SRightPupilVelX},
    {"right_pupil_vel_y", G::Velocity, "right pupil-position velocity y, deg/s", col::SRightPupilVelY},
    {"left_fast_gaze_vel_x", G::Optional, "left gaze velocity x, fast form, deg/s", col::SLeftFastGazeVelX},
    {"left_fast_gaze_vel_y", G::Optional, "left gaze velocity y, fast form, deg/s", col::SLeftFastGazeVelY},
    {"right_fast_gaze_vel_x", G::Optional, "right gaze velocity x, fast form, deg/s", col::SRightFastGazeVelX},
    {"right_fast_gaze_vel_y", G::Optional, "right gaze velocity y, fast form, deg/s", col::SRightFastGazeVelY},
    {"left_fast_headref_vel_x", G::Optional, "left head-referenced velocity x, fast form", col::SLeftFastHeadRefVelX},
    {"left_fast_headref_vel_y", G::Optional, "left head-referenced velocity y, fast form", col::SLeftFastHeadRefVelY},
    {"right_fast_headref_vel_x", G::Optional, "right head-referenced velocity x, fast form", col::SRightFastHeadRefVelX},
    {"right_fast_headref_vel_y", G::Optional, "right head-referenced velocity y, fast form", col::SRightFastHeadRefVelY},
    {"left_fast_pupil_vel_x", G::Optional, "left pupil-position velocity x, fast form", col::SLeftFastPupilVelX},
    {"left_fast_pupil_vel_y", G::Optional, "left pupil-position velocity y, fast form", col::SLeftFastPupilVelY},
    {"right_fast_pupil_vel_x", G::Optional, "right pupil-position velocity x, fast form", col::SRightFastPupilVelX},
    {"right_fast_pupil_vel_y", G::Optional, "right pupil-position velocity y, fast form", col::SRightFastPupilVelY},
};

constexpr Column kEventColumns[] = {
    {"trial", G::Trial, "trial number (1-based) at the event's start", col::ETrial},
    {"block", G::Optional, "recording block number (1-based) at the event's start", col::EBlock},
    {"type", G::Default, "fixation, saccade or blink", col::EType},
    {"eye", G::Default, "left or right", col::EEye},
    {"start_time", G::Default, "ms", col::EStartTime},
    {"end_time", G::Default, "ms; empty when the end record is missing", col::EEndTime},
    {"duration", G::Default, "end_time - start_time, ms", col::EDuration},
    {"start_gaze_x", G::Default, "gaze x at the start, pixels", col::EStartGazeX},
    {"start_gaze_y", G::Default, "gaze y at the start, pixels", col::EStartGazeY},
    {"end_gaze_x", G::Default, "gaze x at the end, pixels", col::EEndGazeX},
    {"end_gaze_y", G::Default, "gaze y at the end, pixels", col::EEndGazeY},
    {"avg_gaze_x", G::Default, "average gaze x, pixels", col::EAvgGazeX},
    {"avg_gaze_y", G::Default, "average gaze y, pixels", col::EAvgGazeY},
    {"start_pupil_size", G::Default, "pupil size at the start", col::EStartPupilSize},
    {"end_pupil_size", G::Default, "pupil size at the end", col::EEndPupilSize},
    {"avg_pupil_size", G::Default, "average pupil size", col::EAvgPupilSize},
    {"avg_velocity", G::Default, "average velocity, deg/s", col::EAvgVelocity},
    {"peak_velocity", G::Default, "peak velocity, deg/s", col::EPeakVelocity},
    {"start_velocity", G::Default, "velocity at the start, deg/s", col::EStartVelocity},
    {"end_velocity", G::Default, "velocity at the end, deg/s", col::EEndVelocity},
    {"start_resolution_x", G::Default, "pixels per degree x at the start", col::EStartResolutionX},
    {"start_resolution_y", G::Default, "pixels per degree y at the start", col::EStartResolutionY},
    {"end_resolution_x", G::Default, "pixels per degree x at the end", col::EEndResolutionX},
    {"end_resolution_y", G::Default, "pixels per degree y at the end", col::EEndResolutionY},
    {"start_headref_x", G::Optional, "head-referenced x at the start", col::EStartHeadRefX},
    {"start_headref_y", G::Optional, "head-referenced y at the start", col::EStartHeadRefY},
    {"end_headref_x", G::Optional, "head-referenced x at the end", col::EEndHeadRefX},
    {"end_headref_y", G::Optional, "head-referenced y at the end", col::EEndHeadRefY},
    {"avg_headref_x", G::Optional, "average head-referenced x", col::EAvgHeadRefX},
    {"avg_headref_y", G::Optional, "average head-referenced y", col::EAvgHeadRefY},
    {"pair", G::Optional, "complete, start-only (end record missing) or end-only (start record missing)",
     col::EPair},
    {"parsed_by", G::Optional, "parsedBy word of the end record", col::EParsedBy},
    {"flags", G::Optional, "flags word of the end record", col::EFlags},
    {"amplitude", G::Velocity,
     "saccade amplitude, degrees: gaze distance from start to end over the mean resolution", col::EAmplitude},
};

constexpr Column kMessageColumns[] = {
    {"trial", G::Trial, "trial number (1-based); empty outside trials", col::MTrial},
    {"block", G::Optional, "recording block number (1-based)", col::MBlock},
    {"time", G::Default, "ms", col::MTime},
    {"text", G::Default, "message text as stored", col::MText},
};

constexpr Column kButtonColumns[] = {
    {"trial", G::Trial, "trial number (1-based); empty outside trials", col::BTrial},
    {"block", G::Optional, "recording block number (1-based)", col::BBlock},
    {"time", G::Default, "ms", col::BTime},
    {"buttons", G::Default, "button word", col::BButtons},
};

constexpr Column kInputColumns[] = {
    {"trial", G::Trial, "trial number (1-based); empty outside trials", col::ITrial},
    {"block", G::Optional, "recording block number (1-based)", col::IBlock},
    {"time", G::Default, "ms", col::ITime},
    {"input", G::Default, "input port word", col::IInput},
};

constexpr Column kRecordingColumns[] = {
    {"block", G::Default, "recording block number (1-based)", col::RBlock},
    {"start_time", G::Default, "ms", col::RStartTime},
    {"end_time", G::Default, "ms; empty when the block has no end record", col::REndTime},
    {"duration", G::Default, "end_time - start_time, ms", col::RDuration},
    {"sample_rate", G::Default, "samples per second", col::RSampleRate},
    {"eyes", G::Default, "left, right or both", col::REyes},
    {"records", G::Default, "samples, events or both", col::RRecords},
    {"filter", G::Default, "filter level", col::RFilter},
    {"mode", G::Default, "recording mode (0 or 1)", col::RMode},
    {"pupil_type", G::Optional, "pupil type (0 or 1)", col::RPupilType},
    {"position_type", G::Optional, "position type", col::RPositionType},
    {"sample_flags", G::Optional, "flags word of the samples-block start", col::RSampleFlags},
    {"event_flags", G::Optional, "flags word of the events-block start", col::REventFlags},
    {"merged", G::Optional, "1 when the consistency checks merged it with a neighbour", col::RMerged},
    {"samples", G::Default, "samples in the block", col::RSamples},
    {"fixations", G::Default, "fixation end records in the block (one per eye)", col::RFixations},
    {"saccades", G::Default, "saccade end records in the block", col::RSaccades},
    {"blinks", G::Default, "blink end records in the block", col::RBlinks},
    {"messages", G::Default, "messages in the block", col::RMessages},
    {"buttons", G::Default, "button events in the block", col::RButtons},
    {"inputs", G::Default, "input events in the block", col::RInputs},
};

constexpr Column kTrialColumns[] = {
    {"trial", G::Default, "trial number (1-based)", col::TTrial},
    {"block", G::Default, "recording block number (1-based) the trial starts in", col::TBlock},
    {"start_time", G::Default, "ms, time of the item that began the trial", col::TStartTime},
    {"end_time", G::Default, "ms, time of the item that ended the trial", col::TEndTime},
    {"duration", G::Default, "end_time - start_time, ms", col::TDuration},
    {"start_message", G::Default, "text of the message that began the trial, if one did", col::TStartMessage},
    {"end_message", G::Default, "text of the message that ended the trial, if one did", col::TEndMessage},
};

}  // namespace

std::string_view tableName(Table table) {
    switch (table) {
        case Table::Samples: return "samples";
        case Table::Events: return "events";
        case Table::Messages: return "messages";
        case Table::Buttons: return "buttons";
        case Table::Inputs: return "inputs";
        case Table::Recordings: return "recordings";
        case Table::Trials: return "trials";
    }
    return "?";
}

bool tableFromName(std::string_view name, Table& table) {
    for (Table t : kAllTables) {
        if (tableName(t) == name) {
            table = t;
            return true;
        }
    }
    return false;
}

std::span<const Column> tableColumns(Table table) {
    switch (table) {
        case Table::Samples: return kSampleColumns;
        case Table::Events: return kEventColumns;
        case Table::Messages: return kMessageColumns;
        case Table::Buttons: return kButtonColumns;
        case Table::Inputs: return kInputColumns;
        case Table::Recordings: return kRecordingColumns;
        case Table::Trials: return kTrialColumns;
    }
    return {};
}

std::vector<const Column*> selectColumns(Table table, const std::vector<std::string>& names, bool trials,
                                         bool velocities) {
    const std::span<const Column> all = tableColumns(table);
    std::vector<const Column*> out;
    if (!names.empty()) {
        for (const std::string& name : names) {
            const Column* found = nullptr;
            for (const Column& c : all)
                if (c.name == name) found = &c;
            if (found == nullptr)
                throw std::invalid_argument(fmt::format("the {} table has no column '{}' (see --list-columns)",
                                                        tableName(table), name));
            out.push_back(found);
        }
        return out;
    }
    for (const Column& c : all) {
        if (c.group == ColumnGroup::Default || (c.group == ColumnGroup::Trial && trials) ||
            (c.group == ColumnGroup::Velocity && velocities))
            out.push_back(&c);
    }
    return out;
}

RowWriter::RowWriter(Output& out, Format format, std::string missing, std::vector<const Column*> columns,
                     std::string leadingName, std::string leadingValue)
    : out_(&out),
      format_(format),
      separator_(format == Format::Tsv ? '\t' : ','),
      missing_(std::move(missing)),
      columns_(std::move(columns)),
      leadName_(std::move(leadingName)),
      lead_(std::move(leadingValue)) {
    std::vector<std::string_view> names;
    if (!leadName_.empty()) names.push_back(leadName_);
    for (const Column* c : columns_) names.push_back(c->name);
    rowRoom_ = 8;
    for (std::size_t i = 0; i < names.size(); ++i) {
        keys_.push_back(fmt::format("{}\"{}\":", i == 0 ? "" : ",", names[i]));
        // The longest number (24), a separator or key, or the missing text.
        rowRoom_ += keys_.back().size() + 32 + missing_.size();
    }
}

void RowWriter::header() {
    if (format_ == Format::Jsonl) return;
    std::string line;
    auto put = [&](std::string_view name) {
        if (!line.empty()) line.push_back(separator_);
        line.append(name);
    };
    if (!leadName_.empty()) put(leadName_);
    for (const Column* c : columns_) put(c->name);
    line.push_back('\n');
    out_->append(line);
}

void RowWriter::text(std::string_view v) {
    next();
    // Make room for the text in any encoding, keeping the row so far.
    out_->commit(p_);
    p_ = out_->reserve(textRoom(v.size()) + rowRoom_);
    if (format_ == Format::Jsonl)
        p_ = writeJsonString(p_, v);
    else
        p_ = writeDelimitedText(p_, v, separator_);
}

}  // namespace voktool
