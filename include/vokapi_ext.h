/*
 * vokapi_ext.h - extension of the vokapi C API: bulk reading into columns.
 *
 * EXTENSION.  Everything here carries the prefix vokext_ / VOKEXT_ and sits
 * beside the core API of vokapi.h, which it includes.  The core API serves
 * one item per call; the extension walks the same cursor and writes many
 * items per call into arrays the caller provides, so that bindings for array
 * languages (the Python package) never loop per sample.  Every value it
 * writes is the value the core calls give for the same item
 * (vok_get_next_data() followed by vok_get_float_data()): velocities, time
 * offset fixup, marked samples, placeholder samples and merged extra
 * messages included.
 *
 * Conventions are those of vokapi.h: no function lets an error escape, NULL
 * handles and pointers are accepted and reported, reasons go to the log
 * function.  The records below may grow in later versions; their layout is
 * tied to the library version (vok_get_version()).
 */
#ifndef VOKAPI_EXT_H
#define VOKAPI_EXT_H

#include <stddef.h>
#include <stdint.h>

#include "vokapi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Opening from memory                                                      */
/* ------------------------------------------------------------------------ */

/** Opens a recording held in memory: the `size` bytes at `data` are what a
 *  ".vok" file would hold.  Arguments, result and error value are those of
 *  vok_open_file(), and so is everything after: the same items, records,
 *  messages and failures as a file open of the same bytes (the resolution
 *  override is reset as there).  Close the handle with vok_close_file().
 *
 *  LIFETIME: the bytes are not copied.  They belong to the caller and must
 *  stay valid and unchanged until vok_close_file() has returned, since
 *  records are read from them again as the handle is walked.  A compressed
 *  recording's body is inflated into memory owned by the handle; no
 *  temporary file is made.
 *
 *  Extra message file (loadEvents & 2): a recording in memory has no folder
 *  to look for "mb_messages.log" in, so only the file named by
 *  vok_set_extra_message_file() is read, when one is set; otherwise there
 *  are no extra messages.
 *  @return a handle, or NULL with *err = -1 (the reason is logged); NULL
 *  data with a nonzero size fails. */
VOKAPI_EXPORT VOKFile* vokext_open_memory(const void* data, size_t size, int consistency, int loadEvents,
                                          int loadSamples, int* err);

/* ------------------------------------------------------------------------ */
/* Bulk walk                                                                */
/* ------------------------------------------------------------------------ */

/** Kinds of items a bulk walk reads (VOKEXT_Batch.kinds).  Items of a kind
 *  not asked for are stepped past without their record being read, exactly
 *  as a client that calls vok_get_next_data() but not vok_get_float_data(). */
#define VOKEXT_SAMPLES    0x01 /**< samples, into VOKEXT_Batch.samples */
#define VOKEXT_EVENTS     0x02 /**< every event item, merged extra messages included */
#define VOKEXT_RECORDINGS 0x04 /**< RECORDING_INFO items */

/** VOKEXT_Batch.options bits. */
/** In the float sample columns (not in VOKEXT_SampleColumns.records) write NaN
 *  for 1e8 and -32768.0, for a non-finite value, and for the slots of an eye
 *  or group the sample's flags say it does not carry: positions, pupil sizes
 *  and gaze need their eye bit (VOK_SAMPLE_LEFT / _RIGHT) and their group bit
 *  (VOK_SAMPLE_PUPILXY, _HEADREF, _PUPILSIZE, _GAZE), the resolutions
 *  VOK_SAMPLE_RESOLUTION.  Velocities are NaN when 1e8 or not finite.
 *  Integer columns keep their markers. */
#define VOKEXT_MISSING_AS_NAN 0x01

/** Bytes of text room a bulk walk keeps free for one message (its text and
 *  a NUL): no message text the library serves is longer. */
#define VOKEXT_TEXT_ROOM 512

/** Where the sample values go.  Every pointer may be NULL (that column is
 *  not written).  Row r of a column lies at (char*)column + r * stride, or,
 *  with stride 0, at column[r] (each column packed).  Two-element members are
 *  by eye, 0 left and 1 right.  The columns are written at row
 *  VOKEXT_Batch.sampleCount onward. */
typedef struct VOKEXT_SampleColumns {
    size_t stride;          /**< bytes from one row to the next; 0: packed */
    Sample* records;        /**< whole records as served (packed, never strided) */
    uint32_t* position;     /**< the sample's item position (as a bookmark id) */
    uint32_t* time;         /**< Sample.time, ms */
    double* timeMs;         /**< time, + 0.5 when VOK_SAMPLE_HALFMS is set */
    uint16_t* flags;
    float* pupilX[2];
    float* pupilY[2];
    float* headRefX[2];
    float* headRefY[2];
    float* pupilSize[2];
    float* gazeX[2];
    float* gazeY[2];
    float* resolutionX;
    float* resolutionY;
    float* gazeVelX[2];
    float* gazeVelY[2];
    float* headRefVelX[2];
    float* headRefVelY[2];
    float* pupilVelX[2];
    float* pupilVelY[2];
    float* fastGazeVelX[2];
    float* fastGazeVelY[2];
    float* fastHeadRefVelX[2];
    float* fastHeadRefVelY[2];
    float* fastPupilVelX[2];
    float* fastPupilVelY[2];
    int16_t* headData[8];
    uint16_t* input;
    uint16_t* buttons;
    int16_t* headDataType;
    uint16_t* errors;
} VOKEXT_SampleColumns;

/** One bulk walk request and its running totals.  Set the capacities and
 *  arrays, zero the counts, then call vokext_read_batch() until it returns 0;
 *  between calls the arrays may be replaced (and the counts reset) or kept. */
typedef struct VOKEXT_Batch {
    /* ---- what to read ---- */
    uint32_t kinds;    /**< VOKEXT_SAMPLES | VOKEXT_EVENTS | VOKEXT_RECORDINGS */
    uint32_t options;  /**< VOKEXT_MISSING_AS_NAN */

    /* ---- samples ---- */
    uint32_t sampleCapacity;  /**< rows every sample column holds */
    uint32_t sampleCount;     /**< in/out: rows written so far */
    VOKEXT_SampleColumns samples;

    /* ---- events ---- */
    uint32_t eventCapacity;   /**< rows of the event arrays */
    uint32_t eventCount;      /**< in/out */
    Event* events;            /**< the record as served, with message = NULL */
    uint32_t* eventPosition;  /**< item position; for a merged extra message
                                   the position of the list item after it */
    uint8_t* eventExtra;      /**< 1 for a merged extra message, else 0 (may be NULL) */
    uint32_t* eventText;      /**< offset of the message text in `text`, or
                                   0xFFFFFFFF when the event has none (may be NULL) */

    /* ---- recording blocks ---- */
    uint32_t recordingCapacity;
    uint32_t recordingCount;  /**< in/out */
    RecordingInfo* recordings;
    uint32_t* recordingPosition;  /**< may be NULL */

    /* ---- message texts ---- */
    char* text;             /**< texts of the messages, each followed by a NUL */
    uint32_t textCapacity;  /**< bytes of `text` */
    uint32_t textUsed;      /**< in/out: bytes written so far */

    /* ---- out ---- */
    uint32_t unreadable;  /**< in/out: items whose record could not be read
                               (left out, as a NULL from vok_get_float_data()) */
} VOKEXT_Batch;

/** Steps the cursor from where it stands and writes the items of the kinds
 *  asked for, until the items end or an output cannot take one more item:
 *  before each step it needs a free row in every output of a kind asked for
 *  and, with VOKEXT_EVENTS, VOKEXT_TEXT_ROOM bytes of text (unless `text` is
 *  NULL: then no texts are kept).  The item that did not fit is not stepped
 *  over, so the next call continues with it.
 *  @return 1 when it stopped for room (call again), 0 at the end of the
 *  items, -1 for a NULL handle or batch, counts beyond the capacities, or an
 *  output array missing for a kind asked for (the reason is logged; nothing
 *  was stepped). */
VOKAPI_EXPORT int vokext_read_batch(VOKFile* file, VOKEXT_Batch* batch);

/** Switches the velocity computation of sample records on (on != 0, as
 *  after opening) or off.  Off, every velocity field of a sample handed out
 *  (by vok_get_float_data(), vok_get_sample_data(),
 *  vok_get_sample_close_to_time() and vokext_read_batch()) reads 1e8, as a
 *  velocity that cannot be computed, and the walk saves that work; every
 *  other field is as with it on.  Lasts until it is switched again.
 *  @return 0, or -1 for a NULL handle */
VOKAPI_EXPORT int vokext_set_velocities(VOKFile* file, int on);

/** Puts the handle's walk back to its state right after opening: the cursor
 *  before the first item, no current recording block, the merge of extra
 *  messages from their first line, the remembered event start times of the
 *  repair level and the time offset fixup undecided.  Trials, bookmarks and
 *  the current trial stay.  @return 0, or -1 for a NULL handle */
VOKAPI_EXPORT int vokext_rewind(VOKFile* file);

/** Item positions of trial `trial` (0-based): its first item (*first) and
 *  one past its last (*end), as bookmark ids count them.  Builds the trial
 *  list when needed; the cursor does not move.
 *  @return 0, or -1 when there is no such trial or an argument is NULL */
VOKAPI_EXPORT int vokext_get_trial_range(VOKFile* file, int trial, uint32_t* first, uint32_t* end);

/* ------------------------------------------------------------------------ */
/* Regular time grid                                                        */
/* ------------------------------------------------------------------------ */

/** A tracker samples at the fixed steps of its block's rate (250, 500, 1000
 *  and 2000 Hz: every 4, 2, 1 and 0.5 ms).  Analyses and archives want the
 *  samples on that grid, one row per step from the first sample to the
 *  last, with empty rows where a sample is missing (lost, left out as
 *  unreadable, or never recorded).  The planner below cuts the samples of a
 *  recording into segments, each one regular grid, and tells each sample's
 *  row; the caller writes empty rows wherever no sample lands.
 *
 *  Grid modes (vokext_grid_plan(), vokext_grid_rows()): */
/** One segment per recording block with samples: from its first sample to
 *  its last.  A block begins at a RECORDING_INFO item that starts one (the
 *  samples and events starts of one block may be two items: a start that
 *  follows a start at the same rate continues the block) and ends at one
 *  that ends one.  Samples outside every block are on no grid. */
#define VOKEXT_GRID_BLOCKS 0
/** Consecutive blocks at one rate share one segment, with the empty rows of
 *  the time between them, when the later block's samples lie on the
 *  earlier one's grid (within a quarter of a millisecond) and the gap adds
 *  at most 10000 + 4 x (samples placed so far) empty rows; otherwise, and at
 *  a change of rate, a new segment begins.  Samples outside every block
 *  (consistency level 0 keeps them) continue the segment they follow. */
#define VOKEXT_GRID_CONTINUOUS 1

/** One regular grid: row r (0-based, within the segment) stands at time
 *  firstTimeMs + r * stepMs.  Rows are also counted over all segments in
 *  plan order: the segment's row r is overall row firstRow + r. */
typedef struct VOKEXT_GridSegment {
    double firstTimeMs;      /**< time of row 0, as the walk serves sample
                                  times (time offset fixup applied) */
    double stepMs;           /**< 1000 / rate */
    uint64_t firstRow;       /**< overall row of the segment's row 0 */
    uint64_t rows;           /**< rows from the first sample to the last, both included */
    uint64_t firstKey;       /**< internal time key of row 0, in half milliseconds */
    float rate;              /**< samples per second */
    uint32_t firstBlockPosition; /**< item position of the RECORDING_INFO
                                      that began the first sample's block */
    uint32_t lastBlockPosition;  /**< the same for the last sample's block */
    uint32_t firstPosition;  /**< item position of the first sample */
    uint32_t endPosition;    /**< one past the item position of the last sample */
    uint32_t samples;        /**< samples that land on a row of the segment */
} VOKEXT_GridSegment;

/** Cuts the samples of the recording into grid segments from the item index
 *  alone (no record is read; the cursor does not move) and writes the first
 *  `capacity` of them to segments (which may be NULL when capacity is 0).
 *  A sample lands on the row nearest its time; a sample whose row is taken
 *  already (samples closer together than the rate's step) lands on none,
 *  and neither does one whose block has no usable rate.
 *  @return the number of segments (call again with more room when it
 *  exceeds capacity), or -1 for a NULL handle, an unknown mode, or
 *  segments NULL with capacity > 0 */
VOKAPI_EXPORT int64_t vokext_grid_plan(VOKFile* file, uint32_t mode, VOKEXT_GridSegment* segments,
                                       uint32_t capacity);

/** Where vokext_grid_rows() stands: zero it before the first call of a walk
 *  and keep it between calls. */
typedef struct VOKEXT_GridCursor {
    uint32_t segment;   /**< segment of the last sample placed */
    uint32_t lastPosition;
    int64_t lastRow;    /**< overall row of the last sample placed; -1 none */
    uint64_t unplaced;  /**< samples given that landed on no row */
    uint32_t started;   /**< set by the first call */
} VOKEXT_GridCursor;

/** The overall rows of samples at item positions positions[0 .. n-1] (as
 *  VOKEXT_SampleColumns.position reports them), given in walk order over
 *  one or more calls: rows[i] receives the row, or -1 for a sample on no
 *  row (which also counts in cursor->unplaced).  segments and count are
 *  what vokext_grid_plan() gave for the same mode.  Rows only increase.
 *  @return 0, or -1 for NULL arguments (with n > 0), a position that is not
 *  a sample of the index, or positions out of walk order */
VOKAPI_EXPORT int vokext_grid_rows(VOKFile* file, const VOKEXT_GridSegment* segments, uint32_t count,
                                   VOKEXT_GridCursor* cursor, const uint32_t* positions, size_t n,
                                   int64_t* rows);

/* ------------------------------------------------------------------------ */
/* Derived measures over many samples                                       */
/* ------------------------------------------------------------------------ */

/** vok_calculate_ppd() for samples[0 .. count-1] in order (the history of
 *  that function carries from one sample to the next, as with single calls).
 *  ppdX and ppdY receive count values each; either may be NULL.
 *  @return 0, or -1 when samples is NULL while count > 0 */
VOKAPI_EXPORT int vokext_calculate_ppd(float x_extent, float y_extent, const Sample* samples, uint32_t count,
                                       int eye, double* ppdX, double* ppdY);

/** Outputs of vokext_raw_values(): each array receives `count` values
 *  (pairs: 2 x count, x then y of each sample); NULL arrays are skipped. */
typedef struct VOKEXT_RawColumns {
    int* pupilArea;      /**< vok_get_uncorrected_pupil_area() */
    float* rawPupil;         /**< vok_get_uncorrected_raw_pupil(), pairs */
    int* crArea;         /**< vok_get_uncorrected_cr_area() */
    float* rawCr;            /**< vok_get_uncorrected_raw_cr(), pairs */
    int* pupilDimension; /**< vok_get_pupil_dimension(), pairs */
    int* crDimension;    /**< vok_get_cr_dimension(), pairs */
    int* windowPosition; /**< vok_get_window_position(), pairs */
    float* pupilCr;          /**< vok_get_pupil_cr(), pairs */
    int* cr2Area;        /**< vok_get_uncorrected_cr2_area() */
    float* rawCr2;           /**< vok_get_uncorrected_raw_cr2(), pairs */
} VOKEXT_RawColumns;

/** The uncorrected pupil and CR family for samples[0 .. count-1] and one
 *  eye, each value as the single vok_get_* call gives it for that sample
 *  (the handle may be NULL, as there).
 *  @return 0, or -1 when samples or out is NULL while count > 0 */
VOKAPI_EXPORT int vokext_raw_values(VOKFile* file, const Sample* samples, uint32_t count, int eye,
                                    VOKEXT_RawColumns* out);

#ifdef __cplusplus
}
#endif

#endif /* VOKAPI_EXT_H */
