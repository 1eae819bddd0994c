function rec = vokread(path, varargin)
%VOKREAD Read a .vok eye-tracker recording into structs of column vectors.
%   REC = VOKREAD(PATH) reads the recording PATH with the vokapi library:
%   every sample, event, message, recording block and trial.
%   REC = VOKREAD(PATH, NAME, VALUE, ...) takes these options:
%
%     'Consistency'  0 no checks; 1 check (events between blocks moved to the
%                    block edges, samples outside blocks dropped, no value
%                    changed); 2 (default) check and repair (gaps filled with
%                    placeholder samples whose values are missing, blinks
%                    paired, samples inside blinks marked missing); 3 as 1.
%     'Tolerant'     true reads the records before a damaged or cut-off part
%                    instead of failing (default false).
%     'Events'       false loads no events besides the sample-block
%                    boundaries (default true).
%     'Samples'      false loads no samples (default true).
%     'Columns'      the sample columns: a cell array of names, 'all', or {}
%                    for none (the samples are still loaded, so that item
%                    positions stay the same).  Default: time, flags,
%                    position, and per eye (left_/right_) gaze_x, gaze_y,
%                    pupil_size, headref_x, headref_y, gaze_vel_x,
%                    gaze_vel_y, then resolution_x, resolution_y, input,
%                    buttons.  'all' adds the pupil positions (pupil_x,
%                    pupil_y: camera units), the head-referenced and pupil
%                    velocities, the fast velocities (fast_gaze_vel_x ...),
%                    errors, head_data_type and head_data_0 .. head_data_7.
%     'TrialStart', 'TrialEnd'
%                    texts of the messages that begin and end a trial
%                    (default: each recording block is a trial).
%     'TimeFixup'    false keeps the tracker's times; by default recordings
%                    whose times pass 2^30 ms are shifted to start near 0.
%     'MessageTimeOffsets'
%                    true: a signed number that begins a message is a time
%                    offset in ms (default false).
%     'ExtraMessages' true merges "mb_messages.log" beside the recording into
%                    the items by time; a path merges that file (default
%                    false).
%     'Resolution'   [x y] pixels per degree that the velocities use instead
%                    of the samples' own resolution.
%     'AsTable'      true gives samples, events, messages and trials as
%                    tables (MATLAB R2013b and later).  Octave has no tables:
%                    there the struct form is returned, with a warning.
%     'ChunkRows'    how the sample columns come from the MEX function:
%                    [] (default) the columns made once at their final size
%                    and written by the library (in Octave, which copies the
%                    arrays a MEX function returns, the .m code makes them
%                    and the library fills them in place); N reads N rows
%                    per call into them; Inf returns them from one call.
%
%   REC has the fields
%     path, preamble     the file and its header lines (cell, without "** ")
%     revision, tracker_revision
%     items              the number of items the library serves
%     blocks             struct array, one per recording block: start_time,
%                        end_time, duration (ms; NaN without an end record),
%                        sample_rate, eyes ('left', 'right', 'both'), records
%                        ('samples', 'events', 'both'), filter, mode,
%                        pupil_type, position_type, sample_flags, event_flags,
%                        start_position, end_position (item positions)
%     samples            a struct of column vectors, one row per sample: time
%                        (ms, double; .5 for the second sample of a
%                        millisecond), positions and pupil sizes (single),
%                        resolution (pixels per degree), velocities (deg/s),
%                        input, buttons, errors and head data words (single,
%                        NaN where the sample does not carry them), flags
%                        (uint16) and position (uint32, the item position).
%                        Missing values are NaN: the library's markers 1e8
%                        and -32768 never appear.
%     events             a struct of columns, one row per fixation, saccade
%                        or blink and eye (start and end records joined;
%                        start values from the end record when it carries
%                        them, else from the start record), message, button
%                        and input: type ('fixation', 'saccade', 'blink',
%                        'message', 'button', 'input'), eye ('left', 'right',
%                        '' for the others), start_time, end_time, duration,
%                        start_/end_/avg_ gaze_x, gaze_y, headref_x,
%                        headref_y, start_/end_/avg_pupil_size, avg_velocity,
%                        peak_velocity, start_velocity, end_velocity,
%                        start_/end_resolution_x/_y (NaN when not carried),
%                        pair ('complete', 'start-only', 'end-only'),
%                        parsed_by, text, buttons and input (-1 on other
%                        rows), position, extra (merged from the extra
%                        message file).  Rows come in the order the events
%                        complete.
%     messages           time, text, extra, position of every message
%     trials             start_time, end_time, duration (ms of the tracker
%                        clock), start_position, end_position (item
%                        positions: the trial holds the items from
%                        start_position up to end_position - 1), block
%                        (number, 0 when none), identifier (the text of the
%                        message that began the trial, '' otherwise)
%     diagnostics        the lines the library logged while opening and
%                        reading (cell)
%     unreadable         items whose record could not be read (left out)
%     options            the open options (used by VOKTRIALS)
%
%   The values are the library's, exactly those the Python package's
%   samples() and events() give.  Errors: 'vokapi:open' when the file
%   cannot be opened (the message carries the library's reason),
%   'vokapi:argument' for bad arguments.
%
%   Example
%     rec = vokread('session.vok', 'TrialStart', 'TRIAL_START', 'TrialEnd', 'TRIAL_END');
%     plot(rec.samples.time, rec.samples.left_gaze_x)
%     fix = strcmp(rec.events.type, 'fixation');
%     mean(rec.events.duration(fix))
%
%   See also VOKINFO, VOKTRIALS.

  if nargin < 1
    error('vokapi:argument', 'vokread: a recording path is needed');
  end
  o = vok_options(path, varargin, 2, 'vokread');
  rec = vok_load(path, o);
  if o.as_table
    rec = vok_as_table(rec);
  end
end
