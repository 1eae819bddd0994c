function trials = voktrials(rec, startText, endText)
%VOKTRIALS Split a recording read by VOKREAD into trials.
%   TRIALS = VOKTRIALS(REC, START, END) splits the recording REC (from
%   VOKREAD) by its messages, as the vokapi library does: a trial runs from
%   a message whose text contains START to one whose text contains END, both
%   included (messages containing "!V" never count); without an end message
%   it ends just before the next start message or with the last recording
%   block end before the next block start, and a block start that finds no
%   trial open opens one.  Matching is case-sensitive, anywhere in the text.
%   A START of the form 'inPut_type_N' splits by input values instead: an
%   input event of value N begins a trial, one of the value END ends it.
%   TRIALS = VOKTRIALS(REC) takes each recording block as a trial (or the
%   trials of REC's own 'TrialStart' / 'TrialEnd').
%
%   TRIALS is a struct array, one element per trial, with the fields
%     number             1, 2, ...
%     start_time, end_time, duration
%                        ms of the tracker clock (before any time offset fixup)
%     block              the number of the recording block (0 for none)
%     identifier         the text of the message that began the trial ('' when
%                        a block start began it)
%     start_position, end_position
%                        item positions: the trial holds the items from
%                        start_position up to end_position - 1
%     samples            the rows of REC.samples inside the trial
%     events             the events inside the trial, joined within it (a
%                        fixation cut by the trial's edge is 'start-only' or
%                        'end-only'), as the Python package's trial.events()
%     messages           the messages inside the trial
%   Tables stay tables: with REC read 'AsTable', the parts are tables too.
%
%   The recording file is opened again (with REC's options) to build the
%   trial list; the samples are taken from REC.
%
%   Example
%     rec = vokread('session.vok');
%     t = voktrials(rec, 'TRIAL_START', 'TRIAL_END');
%     plot(t(1).samples.time, t(1).samples.left_gaze_x)
%
%   See also VOKREAD, VOKINFO.

  if nargin < 1 || ~isstruct(rec) || ~isscalar(rec) || ~all(isfield(rec, {'path', 'options', 'samples', 'blocks'}))
    error('vokapi:argument', 'voktrials: the first argument must be a recording read by vokread');
  end
  o = rec.options;
  if nargin < 2
    startText = o.trial_start;
    endText = o.trial_end;
  elseif nargin < 3
    endText = '';
  end
  if ~ischar(startText) || ~ischar(endText) || size(startText, 1) > 1 || size(endText, 1) > 1
    error('vokapi:argument', 'voktrials: START and END must be texts');
  end
  h = vokmex('open', rec.path, o.open);
  closer = onCleanup(@() vokmex('close', h));
  ev = vokmex('events', h);
  tr = vokmex('trials', h, startText, endText, true);
  clear closer;
  [~, keys] = vok_blocks(ev.recordings);
  blocks = vok_trial_blocks(tr.recording_time_half_ms, keys);

  n = numel(tr.start_time);
  samples = rec.samples;
  if istable_(samples)
    positions = samples.position;
  elseif isfield(samples, 'position')
    positions = samples.position;
  else
    positions = zeros(0, 1, 'uint32');
  end
  lo = vokmex('lowerbound', positions, double(tr.start_position));
  hi = vokmex('lowerbound', positions, double(tr.end_position));
  trials = struct('number', cell(1, n), 'start_time', [], 'end_time', [], 'duration', [], 'block', [], ...
                  'identifier', '', 'start_position', [], 'end_position', [], 'samples', [], ...
                  'events', [], 'messages', []);
  for k = 1:n
    trials(k).number = k;
    trials(k).start_time = tr.start_time(k);
    trials(k).end_time = tr.end_time(k);
    trials(k).duration = tr.duration(k);
    trials(k).block = blocks(k);
    trials(k).identifier = tr.identifier{k};
    trials(k).start_position = tr.start_position(k);
    trials(k).end_position = tr.end_position(k);
    trials(k).samples = rows_of(samples, lo(k) + 1:hi(k));
    events = vok_event_texts(tr.events{k});
    messages = vok_messages(events);
    if istable_(rec.events)
      events = struct2table(events);
      messages = struct2table(messages);
    end
    trials(k).events = events;
    trials(k).messages = messages;
  end
end

function t = istable_(x)
  t = exist('istable') ~= 0 && istable(x); %#ok<EXIST>
end

function part = rows_of(s, rows)
  if istable_(s)
    part = s(rows, :);
    return;
  end
  part = struct();
  for f = fieldnames(s)'
    part.(f{1}) = s.(f{1})(rows);
  end
end
