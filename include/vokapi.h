/*
 * vokapi.h - read ".vok" eye-tracker recordings.
 *
 * A recording is opened with vok_open_file(), walked item by item with a
 * cursor and closed with vok_close_file().  Items are samples, events
 * (fixations, saccades, blinks, messages, buttons, inputs, block starts and
 * ends) and recording-block records, served in time order as the records
 * declared below.
 *
 * Conventions shared by every function:
 *  - Diagnostics go to the log function (vok_set_log_function); without one
 *    they are written to standard output.
 *  - Threads: distinct handles may be opened, walked, split into trials,
 *    measured and closed in different threads at the same time, with the
 *    results of a sequential run.  One handle used by two threads at once is
 *    the caller's fault: each handle has one cursor, one record buffer and
 *    one stream position; serialise its calls, and a returned record pointer
 *    stays valid only for the thread that obtained it, until its next call.
 *    Library-wide settings stay library-wide and are safe to set from any
 *    thread at any time: the log function (called from whichever thread
 *    logs, so it must itself be thread-safe), the resolution override pair
 *    (read whole, never half of one open's pair), the text encoding flag,
 *    the extra message file name (copied by each open), the physical setup
 *    and pixels-per-degree histories (each call sees whole matrices; the
 *    order of calls from several threads, and so the histories, are the
 *    callers' business).  A setting changed while another thread opens a
 *    file reaches that file or not, depending on timing: set them first for
 *    reproducible results.  The library starts no threads; the walk and the
 *    reading loop take no locks.
 *  - Every pointer the library returns belongs to the file handle: never free
 *    it; it is invalid after vok_close_file().
 *  - Missing values: 1e8 (100000000.0) marks a value the file marks missing or
 *    that cannot be computed; -32768.0 marks a position or pupil slot of an
 *    absent eye or group; 0x8000 marks an absent optional 16-bit word.
 *  - Two-element arrays are indexed by eye: 0 left, 1 right.
 *  - Times are unsigned 32-bit milliseconds of the tracker clock.
 *
 * The header is plain C99 and usable from C and C++.
 */
#ifndef VOKAPI_H
#define VOKAPI_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(VOKAPI_BUILDING)
#    define VOKAPI_EXPORT __declspec(dllexport)
#  elif defined(VOKAPI_STATIC)
#    define VOKAPI_EXPORT
#  else
#    define VOKAPI_EXPORT __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define VOKAPI_EXPORT __attribute__((visibility("default")))
#else
#  define VOKAPI_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Item type codes                                                          */
/* ------------------------------------------------------------------------ */

/** Item type codes: the value vok_get_next_data() returns for each item and
 *  the `type` of an Event.  Codes 1-10, 15-18, 24, 25 and 28 are events. */
typedef enum ItemType {
    SMARK = 1,          /**< start of a start/end pair (dropped by the loader) */
    EMARK = 2,          /**< end of that pair (dropped by the loader) */
    SBLINK = 3,         /**< start of a blink */
    EBLINK = 4,         /**< end of a blink */
    SSACC = 5,          /**< start of a saccade */
    ESACC = 6,          /**< end of a saccade */
    SFIX = 7,           /**< start of a fixation */
    EFIX = 8,           /**< end of a fixation */
    MARKA = 9,          /**< point event; item time is startTime */
    MARKB = 10,         /**< point event; item time is startTime */
    STARTSAMPLES = 15,  /**< start of a block of samples */
    ENDSAMPLES = 16,    /**< end of a block of samples */
    STARTEVENTS = 17,   /**< start of a block of events */
    ENDEVENTS = 18,     /**< end of a block of events */
    MESSAGEEVENT = 24,  /**< text message, in Event.message */
    BUTTONEVENT = 25,   /**< button change */
    INPUTEVENT = 28,    /**< input port change, in Event.input */
    RECORDING_INFO = 30,/**< start or end of a recording block: RecordingInfo */
    SAMPLE_TYPE = 200   /**< a sample: Sample */
} ItemType;

/* ------------------------------------------------------------------------ */
/* Records                                                                  */
/* ------------------------------------------------------------------------ */

/** Sample `flags` bits (the status word that opens a sample record). */
#define VOK_SAMPLE_LEFT        0x8000 /**< left eye present */
#define VOK_SAMPLE_RIGHT       0x4000 /**< right eye present */
#define VOK_SAMPLE_FULLTIME    0x2000 /**< full 32-bit time stored */
#define VOK_SAMPLE_PUPILXY     0x1000 /**< pupil positions present */
#define VOK_SAMPLE_HEADREF     0x0800 /**< head-referenced positions present */
#define VOK_SAMPLE_GAZE        0x0400 /**< gaze positions present */
#define VOK_SAMPLE_RESOLUTION  0x0200 /**< resolution present */
#define VOK_SAMPLE_PUPILSIZE   0x0100 /**< pupil sizes present */
#define VOK_SAMPLE_ERRORS      0x0080 /**< `errors` present */
#define VOK_SAMPLE_INPUT       0x0040 /**< `input` present */
#define VOK_SAMPLE_BUTTONS     0x0020 /**< `buttons` present */
#define VOK_SAMPLE_HEADDATA    0x0010 /**< `headData` present */
#define VOK_SAMPLE_SKIP1       0x0008 /**< first skippable block present */
#define VOK_SAMPLE_SKIP2       0x0004 /**< second skippable block present */
#define VOK_SAMPLE_HALFMS      0x0002 /**< second sample of a millisecond */
#define VOK_SAMPLE_IS_SAMPLE   0x0001 /**< always set on a sample */

/** Value that marks a missing or uncomputable value. */
#define VOK_MISSING_VALUE 100000000.0f
/** Value of a position or pupil slot of an absent eye or group. */
#define VOK_ABSENT_VALUE (-32768.0f)
/** Value of an absent optional 16-bit word. */
#define VOK_ABSENT_WORD 0x8000

/** One measurement of both eyes at one instant. */
typedef struct Sample {
    uint32_t time;          /**< ms */
    float pupilX[2];        /**< pupil x, camera units; -32768.0 absent */
    float pupilY[2];        /**< pupil y, camera units; -32768.0 absent */
    float headRefX[2];      /**< head-referenced x; -32768.0 absent */
    float headRefY[2];      /**< head-referenced y; -32768.0 absent */
    float pupilSize[2];     /**< pupil size; -32768.0 for an absent eye */
    float gazeX[2];         /**< gaze x, display pixels; -32768.0 absent, 1e8 missing */
    float gazeY[2];         /**< gaze y, display pixels; -32768.0 absent, 1e8 missing */
    float resolutionX;      /**< pixels per degree x; 1e8 when not recorded */
    float resolutionY;      /**< pixels per degree y; 1e8 when not recorded */
    float gazeVelX[2];      /**< gaze velocity x, deg/s; 1e8 when not computable */
    float gazeVelY[2];
    float headRefVelX[2];   /**< head-referenced velocity, deg/s */
    float headRefVelY[2];
    float pupilVelX[2];     /**< pupil-position velocity, deg/s */
    float pupilVelY[2];
    float fastGazeVelX[2];  /**< fast-form gaze velocity, deg/s */
    float fastGazeVelY[2];
    float fastHeadRefVelX[2];
    float fastHeadRefVelY[2];
    float fastPupilVelX[2];
    float fastPupilVelY[2];
    int16_t headData[8];    /**< head-tracker and camera words */
    uint16_t flags;         /**< VOK_SAMPLE_* bits */
    uint16_t input;         /**< input port word; 0x8000 absent */
    uint16_t buttons;       /**< button word; 0 absent */
    int16_t headDataType;   /**< 0..255, low four bits = word count; -32768 absent */
    uint16_t errors;        /**< error word; 0x8000 absent */
    uint64_t timeHalfMs;    /**< internal item key (half milliseconds) */
} Sample;

/** A length-prefixed text: `length` bytes of text as stored in the file,
 *  followed by a NUL that the library adds.  The text continues past the
 *  declared one-element array inside the library's buffer. */
typedef struct LString {
    int16_t length;
    char c[1];
} LString;

/** Event `read` bits: which groups the record carried. */
#define VOK_READ_START_TIME   0x0001
#define VOK_READ_END_VALUES   0x0002
#define VOK_READ_AVG_VALUES   0x0004
#define VOK_READ_START_POS    0x0008
#define VOK_READ_END_POS      0x0010
#define VOK_READ_AVG_POS      0x0020
#define VOK_READ_END_TIME     0x0040
#define VOK_READ_PUPILSIZE    0x0080
#define VOK_READ_VELOCITY     0x0100
#define VOK_READ_RESOLUTION   0x0200
#define VOK_READ_PLAIN_POS    0x0400
#define VOK_READ_HEADREF_POS  0x0800
#define VOK_READ_GAZE_POS     0x1000
#define VOK_READ_FLAGS        0x2000

/** Fixations, saccades, blinks, messages, buttons, inputs and block
 *  boundaries.  Fields a record does not carry are 0.  In STARTSAMPLES and
 *  STARTEVENTS records the pupil sizes carry the gaze and velocity scales,
 *  avgVelocity the sample rate and endResolutionX the packed mode word. */
typedef struct Event {
    uint32_t time;          /**< not from the file: 0, or set on synthesised blink starts */
    int16_t type;           /**< ItemType code */
    uint16_t read;          /**< VOK_READ_* bits */
    uint32_t startTime;     /**< ms */
    uint32_t endTime;       /**< ms; 0 for records without an end */
    float startHeadRefX;    /**< head-referenced position at the start; 1e8 missing */
    float startHeadRefY;
    float startGazeX;       /**< gaze position at the start, pixels; 1e8 missing */
    float startGazeY;
    float startPupilSize;
    float endHeadRefX;
    float endHeadRefY;
    float endGazeX;
    float endGazeY;
    float endPupilSize;
    float avgHeadRefX;
    float avgHeadRefY;
    float avgGazeX;
    float avgGazeY;
    float avgPupilSize;
    float avgVelocity;      /**< deg/s */
    float peakVelocity;     /**< deg/s */
    float startVelocity;
    float endVelocity;
    float startResolutionX; /**< pixels per degree */
    float endResolutionX;
    float startResolutionY;
    float endResolutionY;
    int16_t eye;            /**< 0 left, 1 right */
    uint16_t status;        /**< not from the file */
    uint16_t flags;
    uint16_t input;         /**< input port word */
    uint16_t buttons;       /**< button word */
    uint16_t parsedBy;      /**< low byte of the tag word, bit 0 cleared */
    LString* message;       /**< text of a MESSAGEEVENT; NULL otherwise */
} Event;

/** Start or end of a recording block. */
typedef struct RecordingInfo {
    uint32_t time;          /**< ms */
    float sampleRate;       /**< samples per second */
    uint16_t eventFlags;    /**< flags word of the events-block start */
    uint16_t sampleFlags;   /**< flags word of the samples-block start (VOK_SAMPLE_* bits) */
    uint8_t state;          /**< 1 start of a block, 0 end */
    uint8_t recordType;     /**< 1 samples, 2 events, 3 both */
    uint8_t pupilType;      /**< 0 or 1 */
    uint8_t recordingMode;  /**< 0 or 1 */
    uint8_t filterType;     /**< filter level */
    uint8_t positionType;   /**< position type */
    uint8_t eye;            /**< 1 left, 2 right, 3 both */
    uint64_t timeHalfMs;    /**< internal item key */
    float rawScale;         /**< scale for unpacking raw camera values */
    uint32_t windowHeight;  /**< camera window height */
    uint32_t windowWidth;   /**< camera window width */
    uint8_t merged;         /**< set by the consistency checks */
} RecordingInfo;

/** The record of the current item.  The member that is valid follows from
 *  the code vok_get_next_data() returned: SAMPLE_TYPE a Sample,
 *  RECORDING_INFO a RecordingInfo, any event code an Event. */
typedef union FloatData {
    Sample sample;
    Event event;
    RecordingInfo recording;
} FloatData;

/** Trial header, filled by vok_get_trial_header(). */
typedef struct Trial {
    RecordingInfo* recording; /**< the block the trial lies in (owned by the handle) */
    uint32_t duration;        /**< ms, endTime - startTime */
    uint32_t startTime;       /**< ms */
    uint32_t endTime;         /**< ms */
} Trial;

/** A saved cursor position. */
typedef struct BookMark {
    uint32_t id; /**< the item position the bookmark stands for */
} BookMark;

/** An open recording (opaque). */
typedef struct VOKFile VOKFile;

/** Receives one formatted diagnostic text (its line end included). */
typedef void (*vok_log_function)(const char* text);

/* ------------------------------------------------------------------------ */
/* Logging, opening and closing                                             */
/* ------------------------------------------------------------------------ */

/** Installs the function that receives every diagnostic text; NULL sends
 *  them to standard output again.  Library-wide. */
VOKAPI_EXPORT void vok_set_log_function(vok_log_function callback);

/** Consistency argument bits of the open calls. */
#define VOK_CONSISTENCY_LEVEL_MASK 0x03 /**< 0 none, 1 check, 2 check and repair, 3 as 1 */
#define VOK_TOLERANT_READING       0x04 /**< read errors end the records instead of failing */
#define VOK_NO_TIME_FIXUP          0x08 /**< time offset fixup off */
#define VOK_MESSAGE_TIME_OFFSETS   0x10 /**< a leading number in a message is a time offset */

/** Opens a recording and indexes it.
 *  @param path        file name (UTF-8 on POSIX)
 *  @param consistency VOK_CONSISTENCY_* level ored with the flags above
 *  @param loadEvents  0 keeps only sample-block starts and ends; nonzero keeps
 *                     all events; bit 1 (2) also merges the extra message file
 *  @param loadSamples 0 keeps no samples and no sample-block records
 *  @param errval      receives 0 on success, -1 on failure (may be NULL)
 *  @return the handle, or NULL on failure with the reason in the log.
 *  Resets the library-wide resolution override pair to (1e8, 1e8). */
VOKAPI_EXPORT VOKFile* vok_open_file(const char* path, int consistency, int loadEvents,
                                     int loadSamples, int* errval);

/** As vok_open_file(), with a resolution override pair.
 *  @param resolution NULL, or two floats (x, y) that the velocity computation
 *         uses instead of the samples' resolution (1e8 = not given).  They are
 *         copied into a pair shared by every open file; NULL leaves it as is. */
VOKAPI_EXPORT VOKFile* vok_open_file_ex(const char* path, int consistency, int loadEvents,
                                        int loadSamples, const float* resolution,
                                        int* errval);

/** Closes the recording and frees everything obtained from the handle.
 *  NULL is accepted.  @return 0 */
VOKAPI_EXPORT int vok_close_file(VOKFile* file);

/* ------------------------------------------------------------------------ */
/* Preamble and versions                                                    */
/* ------------------------------------------------------------------------ */

/** Copies the preamble text (each line prefixed with "** ", line ends kept)
 *  into buffer: at most size - 1 characters and a NUL.  Size 0 writes
 *  nothing.  @return 0, or -1 for a NULL handle or buffer */
VOKAPI_EXPORT int vok_get_preamble_text(VOKFile* file, char* buffer, int size);

/** @return the preamble text length plus one (room for the NUL); 0 when
 *  there is no text or the handle is NULL */
VOKAPI_EXPORT int vok_get_preamble_text_length(VOKFile* file);

/** @return the recording software revision from the preamble (0 when
 *  absent), or -1 for a NULL handle */
VOKAPI_EXPORT int vok_get_revision(VOKFile* file);

/** @return the tracker revision: 2 or 3 from the preamble's source line,
 *  1 when absent; -1 for a NULL handle */
VOKAPI_EXPORT int vok_get_tarnvik_revision(VOKFile* file);

/** @return the library's version text (static storage) */
VOKAPI_EXPORT const char* vok_get_version(void);


/* ------------------------------------------------------------------------ */
/* Walking the items                                                        */
/* ------------------------------------------------------------------------ */

/** Steps the cursor to the next item.
 *  @return the item's type code (ItemType; unknown event codes are passed
 *  through), 0 when there are no more items (repeatable). */
VOKAPI_EXPORT int vok_get_next_data(VOKFile* file);

/** The record of the current item (the one the last step returned), decoded
 *  afresh at every call, with the time offset fixup applied.
 *  @return a pointer into the handle's item buffer, valid until the next step
 *  or data call on this handle; NULL when there is no current item or it
 *  cannot be read (the reason goes to the log).  Samples carry velocities
 *  while the cursor is inside a recording block; velocities that cannot be
 *  computed are 1e8. */
VOKAPI_EXPORT FloatData* vok_get_float_data(VOKFile* file);

/** As vok_get_float_data(), but NULL unless the current item is an event. */
VOKAPI_EXPORT FloatData* vok_get_event_data(VOKFile* file);
/** As vok_get_float_data(), but NULL unless the current item is a sample. */
VOKAPI_EXPORT FloatData* vok_get_sample_data(VOKFile* file);
/** As vok_get_float_data(), but NULL unless the current item is a
 *  RECORDING_INFO. */
VOKAPI_EXPORT FloatData* vok_get_recording_data(VOKFile* file);

/** The sample whose time is exactly `time` (ms), without moving the cursor.
 *  Of two samples sharing a millisecond the first is found.
 *  @return a pointer into the handle's item buffer (valid as for
 *  vok_get_float_data()), or NULL when no sample has that time. */
VOKAPI_EXPORT Sample* vok_get_sample_close_to_time(VOKFile* file, unsigned int time);

/** @return the number of items (plus the extra messages merged into the
 *  stream, when there are any); 0 for NULL. */
VOKAPI_EXPORT unsigned int vok_get_element_count(VOKFile* file);

/** Member access on a record from vok_get_float_data() (or a whole copy of
 *  it): the same pointer when the record is of that kind, else NULL.  A
 *  record the library did not produce is judged by its Event.type field. */
VOKAPI_EXPORT Event* vok_get_event(FloatData* data);
VOKAPI_EXPORT Sample* vok_get_sample(FloatData* data);
VOKAPI_EXPORT RecordingInfo* vok_get_recording(FloatData* data);
/* ------------------------------------------------------------------------ */
/* Physical setup and pixels per degree                                     */
/* ------------------------------------------------------------------------ */

/** Describes the geometry of the experiment; vok_calculate_ppd() uses it.
 *  Library-wide: the mapping holds for every file until the next call, and
 *  the call empties both eyes' result histories.  Calls of this pair are
 *  serialised by a lock.  Head-referenced coordinates lie on a plane 15000 units in
 *  front of the eye.
 *  @param distance        eye to display; with two distances, eye to the
 *                         display's top edge
 *  @param distance_bottom eye to the display's bottom edge, or exactly
 *                         100000000.0 when only one distance is known
 *  @param phys_left,phys_top,phys_right,phys_bottom the display rectangle
 *                         in physical units (the unit of the distances)
 *  @param pix_left,pix_top,pix_right,pix_bottom the same rectangle in
 *                         display pixels
 *  Degenerate geometry (zero sizes or distances, impossible triangles) is
 *  accepted; vok_calculate_ppd() then gives 1e8 or undefined values.
 *  The two-distance model finds the edges' angles and depths with the
 *  platform's acos, cos and sin, so its mapping may differ in the last bits
 *  between platforms' maths libraries; the single-distance model and the
 *  pixel rectangle use only basic arithmetic and give the same bits
 *  everywhere.
 *  @return 0 */
VOKAPI_EXPORT int vok_compute_physical_setup(float distance, float distance_bottom, float phys_left,
                                             float phys_top, float phys_right, float phys_bottom,
                                             float pix_left, float pix_top, float pix_right,
                                             float pix_bottom);

/** Pixels per degree of visual angle at a sample's gaze position, for one
 *  eye, smoothed over that eye's last ten good results and rounded to one
 *  decimal.  Needs a prior vok_compute_physical_setup(); reads only the
 *  sample and needs no open file.
 *  @param x_extent,y_extent set the probe steps: (extent + 1) / 50 pixels
 *  @param sample  the sample; needs gaze and head-referenced positions
 *  @param eye     0 left, 1 right
 *  @param ppd_x,ppd_y receive the horizontal and vertical result, or 1e8
 *                 when there is none: before any setup, for a sample without
 *                 gaze or head-referenced positions, for an eye other than 0
 *                 or 1, a NULL sample or a NULL output (the other output
 *                 still receives 1e8), for a result too large to round, and
 *                 when a probe gives less than 1.0, which also empties that
 *                 eye's history.
 *  The probe angles come from the platform's acos: a result that lies
 *  right on a rounding boundary of its one decimal may come out 0.1 apart
 *  between platforms' maths libraries.
 *  Library-wide history, updated under a lock: calls from several threads
 *  are safe, but share the history. */
VOKAPI_EXPORT void vok_calculate_ppd(float x_extent, float y_extent, Sample* sample, int eye,
                                     double* ppd_x, double* ppd_y);

/* ------------------------------------------------------------------------ */
/* Trials                                                                   */
/* ------------------------------------------------------------------------ */

/* A trial is a stretch of items.  With identifiers set, a trial runs from a
 * message whose text contains the start identifier to a message whose text
 * contains the end identifier, both included (messages containing "!V" never
 * count); without an end message it ends just before the next start message
 * or with the last recording block end before the next block start.  Without
 * identifiers each recording block is one trial.  A start identifier
 * "inPut_type_N" switches to input values: an INPUTEVENT whose input is N
 * starts a trial, one whose input is the end identifier's value ends it.
 *
 * The trial list is built by the first trial call (every call below except
 * the two identifier getters) and rebuilt by vok_set_trial_identifier().
 * Building reads message and input items back from the file; the cursor and
 * the current record are put back afterwards, but treat a trial call like a
 * step: a record pointer obtained before it should be fetched again.  The
 * jumps set the cursor to a trial's first item, so the next
 * vok_get_next_data() returns that item.  Progress lines of these calls go
 * to standard output. */

/** Sets the trial identifiers and rebuilds the trial list at once.  The texts
 *  are held by pointer, not copied: keep them alive while the file is open.
 *  Either may be NULL.  The current trial keeps its number, which may then
 *  name no trial of the new list.
 *  @return 0, or -1 for a NULL handle */
VOKAPI_EXPORT int vok_set_trial_identifier(VOKFile* file, const char* start, const char* end);

/** @return the start identifier as stored (in input split mode the text
 *  after the "inPut_type_" prefix), or NULL when none is set or the handle is
 *  NULL */
VOKAPI_EXPORT const char* vok_get_start_trial_identifier(VOKFile* file);
/** @return the end identifier as stored, or NULL */
VOKAPI_EXPORT const char* vok_get_end_trial_identifier(VOKFile* file);

/** @return the number of trials; 0 for a NULL handle */
VOKAPI_EXPORT int vok_get_trial_count(VOKFile* file);

/** Makes `trial` (0-based) the current trial and moves the cursor to its
 *  first item.  @return 0, or -1 (nothing changed) when there is no such
 *  trial or the handle is NULL */
VOKAPI_EXPORT int vok_jump_to_trial(VOKFile* file, int trial);

/** Copies the current trial's header into *header; the cursor stays.
 *  header->recording points into the handle.
 *  @return 0, or -1 when header or the handle is NULL or there is no current
 *  trial (before the first jump, or after a rebuild that shortened the list) */
VOKAPI_EXPORT int vok_get_trial_header(VOKFile* file, Trial* header);

/** Jump to the trial before / after the current one (right after opening,
 *  "next" goes to trial 0).  @return 0, or -1 (nothing changed) when there is
 *  none */
VOKAPI_EXPORT int vok_goto_previous_trial(VOKFile* file);
VOKAPI_EXPORT int vok_goto_next_trial(VOKFile* file);

/** Jump to the first trial that starts (ends) at exactly the given time, ms.
 *  @return 0, or -1 (nothing changed) when no trial starts (ends) then */
VOKAPI_EXPORT int vok_goto_trial_with_start_time(VOKFile* file, unsigned int start_time);
VOKAPI_EXPORT int vok_goto_trial_with_end_time(VOKFile* file, unsigned int end_time);

/* ------------------------------------------------------------------------ */
/* Bookmarks                                                                */
/* ------------------------------------------------------------------------ */

/* A bookmark is a saved cursor position: going to it makes the next
 * vok_get_next_data() return the item it would have returned when the
 * bookmark was set.  Bookmarks are kept in the order they were set (not by
 * position), live until the file is closed and do not change the current
 * trial.  Every call returns 0, or -1 on failure with nothing changed (also
 * for a NULL handle or record); nothing is logged. */

/** Saves the cursor in bookmark->id; setting the same position twice gives
 *  the same id and one bookmark.  Fails at the end of the items. */
VOKAPI_EXPORT int vok_set_bookmark(VOKFile* file, BookMark* bookmark);
/** Forgets bookmark->id.  Fails when it is not a bookmark of the file. */
VOKAPI_EXPORT int vok_free_bookmark(VOKFile* file, BookMark* bookmark);
/** Moves the cursor to bookmark->id and makes it the current bookmark.
 *  Fails when it is not a bookmark of the file. */
VOKAPI_EXPORT int vok_goto_bookmark(VOKFile* file, BookMark* bookmark);
/** Goes to the bookmark set after / before the current one (the current
 *  bookmark is the first one right after opening).  Fails when there is
 *  none. */
VOKAPI_EXPORT int vok_goto_next_bookmark(VOKFile* file);
VOKAPI_EXPORT int vok_goto_previous_bookmark(VOKFile* file);

/* ------------------------------------------------------------------------ */
/* Extra message file                                                       */
/* ------------------------------------------------------------------------ */

/** Names the extra message file that later opens with loadEvents bit 1 (2)
 *  read; files already open are not affected.  The name is copied.  NULL
 *  clears it, so that "mb_messages.log" in the recording's folder is read
 *  again; an empty name reads no file.  Library-wide; safe to call while
 *  other threads open files (each open copies the name it finds).
 *
 *  The file is a text log whose lines start with a time on the logging
 *  program's clock.  A line containing "TRACKER_TIME" ("<local> <word>
 *  <number> <tracker>") ties that clock to the tracker's; lines before the
 *  first one are ignored, and each later line's time is converted with the
 *  most recent one.  Lines without a readable leading number, or whose time
 *  would be negative or beyond the 32-bit clock, are left out.  When the log
 *  ends with a "Quit logger" line, its lines are merged into the item stream
 *  by time as MESSAGEEVENT items whose text is the rest of the line after the
 *  time (at most 260 characters; the LString length is what it holds), and
 *  synchronisation lines present in both streams are dropped.  A log without
 *  "Quit logger" is counted by vok_get_element_count() but not merged.  The
 *  merged messages are not positions of the cursor: trial and bookmark jumps
 *  do not rewind them.
 *  @return 0, or -1 when the name cannot be stored */
VOKAPI_EXPORT int vok_set_extra_message_file(const char* name);


/* ------------------------------------------------------------------------ */
/* Uncorrected pupil and corneal reflection (CR)                            */
/* ------------------------------------------------------------------------ */
/* Raw camera values that a sample carries in one of two layouts: packed into
 * the position and gaze fields (when pupilSize[eye] < 0) or in headData and
 * the input word.  The handle is used only to find the recording block of the
 * sample's time (through the trial list, which is built if needed) for its raw
 * scale and camera window; with no covering trial, or a NULL handle, scale 0
 * and the 176 x 190 window apply.  `eye` is 0 (left) or 1 (right); any other
 * value, or a NULL sample, gives the missing results.  Missing results:
 * areas 0, positions 1e8, dimensions 100000000.  NULL output pointers are
 * ignored. */

/** @return the pupil area in camera pixels. */
VOKAPI_EXPORT int vok_get_uncorrected_pupil_area(VOKFile* file, Sample* sample, int eye);
/** Pupil centre in camera pixels into xy[0], xy[1]. */
VOKAPI_EXPORT void vok_get_uncorrected_raw_pupil(VOKFile* file, Sample* sample, int eye, float* xy);
/** @return the CR area. */
VOKAPI_EXPORT int vok_get_uncorrected_cr_area(VOKFile* file, Sample* sample, int eye);
/** CR centre in camera pixels into xy[0], xy[1]. */
VOKAPI_EXPORT void vok_get_uncorrected_raw_cr(VOKFile* file, Sample* sample, int eye, float* xy);
/** Pupil width and height into wh[0], wh[1]. */
VOKAPI_EXPORT void vok_get_pupil_dimension(VOKFile* file, Sample* sample, int eye, int* wh);
/** CR width and height into wh[0], wh[1] (100000000 each when headDataType is 200). */
VOKAPI_EXPORT void vok_get_cr_dimension(VOKFile* file, Sample* sample, int* wh);
/** Camera window centre (corner plus half the window) into xy[0], xy[1]. */
VOKAPI_EXPORT void vok_get_window_position(VOKFile* file, Sample* sample, int* xy);
/** Pupil minus 1.02 x CR, with the pupil corrected for a CR overlapping its
 *  edge, into xy[0], xy[1]. */
VOKAPI_EXPORT void vok_get_pupil_cr(VOKFile* file, Sample* sample, int eye, float* xy);
/** @return the area of the second CR (0 when the sample carries none). */
VOKAPI_EXPORT int vok_get_uncorrected_cr2_area(VOKFile* file, Sample* sample, int eye);
/** Second CR centre into xy[0], xy[1] (1e8 when the sample carries none). */
VOKAPI_EXPORT void vok_get_uncorrected_raw_cr2(VOKFile* file, Sample* sample, int eye, float* xy);

#ifdef __cplusplus
}
#endif

#endif /* VOKAPI_H */
