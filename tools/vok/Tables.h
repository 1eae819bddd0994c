// The tables that `vok export` writes, their columns, and the row writer
// that lays out fields in CSV, TSV or JSON Lines.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Output.h"

namespace voktool {

enum class Table { Samples, Events, Messages, Buttons, Inputs, Recordings, Trials };

inline constexpr Table kAllTables[] = {Table::Samples, Table::Events,     Table::Messages, Table::Buttons,
                                       Table::Inputs,  Table::Recordings, Table::Trials};

std::string_view tableName(Table table);
bool tableFromName(std::string_view name, Table& table);

// Which columns a table shows unless --columns names them.
enum class ColumnGroup : std::uint8_t {
    Default,     // always
    Trial,       // when trials are asked for
    Velocity,    // with --velocities
    Optional,    // only when named
};

struct Column {
    std::string_view name;
    ColumnGroup group;
    std::string_view description;
    int id;  // the table's own column code
};

// Every column of a table, in output order.
std::span<const Column> tableColumns(Table table);

// Column codes of each table.
namespace col {
enum Sample : int {
    STrial, SBlock, STime, SLeftGazeX, SLeftGazeY, SRightGazeX, SRightGazeY, SLeftPupilSize, SRightPupilSize,
    SResolutionX, SResolutionY, SLeftPupilX, SLeftPupilY, SRightPupilX, SRightPupilY, SLeftHeadRefX,
    SLeftHeadRefY, SRightHeadRefX, SRightHeadRefY, SInput, SButtons, SErrors, SFlags, SHeadDataType,
    SHeadData0, SHeadData1, SHeadData2, SHeadData3, SHeadData4, SHeadData5, SHeadData6, SHeadData7,
    // velocities, deg/s, and the speeds derived from them
    SLeftGazeVelX, SLeftGazeVelY, SRightGazeVelX, SRightGazeVelY, SLeftGazeSpeed, SRightGazeSpeed,
    SLeftHeadRefVelX, SLeftHeadRefVelY, SRightHeadRefVelX, SRightHeadRefVelY, SLeftPupilVelX, SLeftPupilVelY,
    SRightPupilVelX, SRightPupilVelY, SLeftFastGazeVelX, SLeftFastGazeVelY, SRightFastGazeVelX,
    SRightFastGazeVelY, SLeftFastHeadRefVelX, SLeftFastHeadRefVelY, SRightFastHeadRefVelX,
    SRightFastHeadRefVelY, SLeftFastPupilVelX, SLeftFastPupilVelY, SRightFastPupilVelX, SRightFastPupilVelY,
};
enum Event : int {
    ETrial, EBlock, EType, EEye, EStartTime, EEndTime, EDuration, EStartGazeX, EStartGazeY, EEndGazeX,
    EEndGazeY, EAvgGazeX, EAvgGazeY, EStartPupilSize, EEndPupilSize, EAvgPupilSize, EAvgVelocity,
    EPeakVelocity, EStartVelocity, EEndVelocity, EStartResolutionX, EStartResolutionY, EEndResolutionX,
    EEndResolutionY, EStartHeadRefX, EStartHeadRefY, EEndHeadRefX, EEndHeadRefY, EAvgHeadRefX, EAvgHeadRefY,
    EPair, EParsedBy, EFlags, EAmplitude,
};
enum Message : int { MTrial, MBlock, MTime, MText };
enum Button : int { BTrial, BBlock, BTime, BButtons };
enum Input : int { ITrial, IBlock, ITime, IInput };
enum Recording : int {
    RBlock, RStartTime, REndTime, RDuration, RSampleRate, REyes, RRecords, RFilter, RMode, RPupilType,
    RPositionType, RSampleFlags, REventFlags, RMerged, RSamples, RFixations, RSaccades, RBlinks, RMessages,
    RButtons, RInputs,
};
enum Trial : int {
    TTrial, TBlock, TStartTime, TEndTime, TDuration, TStartMessage, TEndMessage,
};
}  // namespace col

// Picks the columns of a table: the names given (in that order), or else
// the default ones plus the groups switched on.  Throws std::invalid_argument
// naming an unknown column.
std::vector<const Column*> selectColumns(Table table, const std::vector<std::string>& names, bool trials,
                                         bool velocities);

// Lays out rows: header line, fields in column order, missing markers.
// Fields are written straight into the output's buffer; each row reserves
// room for its numeric fields up front, and text fields reserve their own.
class RowWriter {
public:
    // leadingName/leadingValue: an extra first column with the same value on
    // every row (the recording's path when several are written together).
    RowWriter(Output& out, Format format, std::string missing, std::vector<const Column*> columns,
              std::string leadingName = {}, std::string leadingValue = {});

    const std::vector<const Column*>& columns() const { return columns_; }
    // The header line (nothing for JSON Lines).
    void header();

    // One row: begin(), then exactly one field call per column, then end().
    void begin() {
        p_ = out_->reserve(rowRoom_);
        field_ = 0;
        if (format_ == Format::Jsonl) *p_++ = '{';
        if (!leadName_.empty()) text(lead_);
    }
    void end() {
        if (format_ == Format::Jsonl) *p_++ = '}';
        *p_++ = '\n';
        out_->commit(p_);
    }

    void missing() {
        next();
        if (format_ == Format::Jsonl) {
            std::memcpy(p_, "null", 4);
            p_ += 4;
        } else if (!missing_.empty()) {
            std::memcpy(p_, missing_.data(), missing_.size());
            p_ += missing_.size();
        }
    }
    void number(float v) {
        next();
        p_ = writeFloat(p_, v);
    }
    void number(double v) {
        next();
        p_ = writeDouble(p_, v);
    }
    void integer(std::int64_t v) {
        next();
        p_ = writeInt(p_, v);
    }
    // A time in ms, with ".5" for the second half of a millisecond.
    void time(std::uint32_t ms, bool half) {
        next();
        p_ = writeUInt(p_, ms);
        if (half) {
            p_[0] = '.';
            p_[1] = '5';
            p_ += 2;
        }
    }
    void text(std::string_view v);
    // A word from a fixed vocabulary (never needs quoting).
    void word(std::string_view v) {
        next();
        if (format_ == Format::Jsonl) *p_++ = '"';
        std::memcpy(p_, v.data(), v.size());
        p_ += v.size();
        if (format_ == Format::Jsonl) *p_++ = '"';
    }

    // A float that the library marks missing (1e8) or absent (-32768.0).
    void measured(float v) {
        if (v == VOK_MISSING || v == VOK_ABSENT || v != v)
            missing();
        else
            number(v);
    }

    // A computed value (a velocity): 1e8 when it could not be computed.
    void computed(float v) {
        if (v == VOK_MISSING || v != v) {
            missing();
        } else {
            next();
            p_ = writeComputedFloat(p_, v);
        }
    }

    static constexpr float VOK_MISSING = 100000000.0f;
    static constexpr float VOK_ABSENT = -32768.0f;

private:
    void next() {
        if (format_ == Format::Jsonl) {
            const std::string& k = keys_[field_];
            std::memcpy(p_, k.data(), k.size());
            p_ += k.size();
        } else if (field_ != 0) {
            *p_++ = separator_;
        }
        ++field_;
    }

    Output* out_;
    Format format_;
    char separator_;
    std::string missing_;
    std::vector<const Column*> columns_;
    std::string leadName_;
    std::string lead_;
    std::vector<std::string> keys_;  // JSON: "{\"name\":" / ",\"name\":"
    std::size_t rowRoom_ = 0;        // room for one row without its texts
    char* p_ = nullptr;
    std::size_t field_ = 0;
};

}  // namespace voktool
