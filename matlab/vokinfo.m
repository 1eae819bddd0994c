function text = vokinfo(path, varargin)
%VOKINFO Show what a .vok recording holds, as the vok tool's "vok info" does.
%   VOKINFO(PATH) prints the recording's revisions, item count and preamble,
%   each recording block (start, end, duration, sample rate, eyes, what it
%   records, filter and mode) with its counts of samples, fixations,
%   saccades, blinks, messages, buttons and inputs, the totals, the trials
%   and the diagnostics the library logged while opening and reading.
%   Fixations, saccades and blinks are counted by their end records, one per
%   eye.  Trials are the recording blocks unless 'TrialStart' / 'TrialEnd'
%   name the texts of the messages that begin and end them.
%
%   TEXT = VOKINFO(PATH, ...) returns the text instead of printing it.
%
%   Options are those of VOKREAD that choose how the file is opened
%   ('Consistency', default 1 as for "vok info", 'Tolerant', 'Events',
%   'Samples', 'TimeFixup', 'MessageTimeOffsets', 'ExtraMessages',
%   'TrialStart', 'TrialEnd').  The text is made here from what the library
%   serves (no samples are decoded), line for line the text of "vok info"
%   with the same options; the vok program is not needed.
%
%   Example
%     vokinfo('session.vok', 'TrialStart', 'TRIAL_START', 'TrialEnd', 'TRIAL_END')
%
%   See also VOKREAD, VOKTRIALS.

  if nargin < 1
    error('vokapi:argument', 'vokinfo: a recording path is needed');
  end
  o = vok_options(path, varargin, 1, 'vokinfo');
  o.columns = {};
  [rec, info] = vok_load(path, o);
  out = vok_info_text(path, o, rec, info);
  if nargout > 0
    text = out;
  else
    fprintf('%s', out);
  end
end
