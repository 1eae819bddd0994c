function [rec, info] = vok_load(path, o)
%VOK_LOAD Reads a recording with the options of vok_options: one walk over
%the items, samples into columns made at their final size.
  [h, info] = vokmex('open', path, o.open);
  closer = onCleanup(@() vokmex('close', h));
  names = o.columns;
  if ~isempty(names) && ~any(strcmp(names, 'position'))
    names{end + 1} = 'position';   % trials are cut by item position
  end
  samples = read_samples(h, names, info.sample_items, o.chunk_rows);
  ev = vokmex('events', h);
  tr = vokmex('trials', h, o.trial_start, o.trial_end, false);
  [blocks, keys] = vok_blocks(ev.recordings);

  rec = struct();
  rec.path = path;
  rec.preamble = info.preamble;
  rec.revision = info.revision;
  rec.tracker_revision = info.tracker_revision;
  rec.items = info.items;
  rec.blocks = blocks;
  rec.samples = samples;
  rec.events = ev.events;
  rec.messages = vok_messages(ev.events);
  rec.trials = trial_columns(tr, keys);
  rec.diagnostics = [info.diagnostics; ev.diagnostics];
  rec.unreadable = ev.unreadable;
  rec.options = o;
  info.recordings = ev.recordings;
  info.block_keys = keys;
end

function s = read_samples(h, names, n, chunk)
  s = struct();
  if isempty(names)
    return;
  end
  [c, done] = vokmex('read', h, names, chunk);
  if done
    s = c;   % all rows in one call: the arrays as the library filled them
    return;
  end
  % Octave copies the arrays a MEX function returns: the columns are made at
  % their final size here and filled chunk by chunk in place.
  got = numel(c.(names{1}));
  for k = 1:numel(names)
    f = names{k};
    column = zeros(max(n, got), 1, class(c.(f)));
    column(1:got) = c.(f);
    s.(f) = column;
  end
  clear column c;
  while ~done
    [c, done] = vokmex('read', h, names, chunk);
    m = numel(c.(names{1}));
    for k = 1:numel(names)
      s.(names{k})(got + 1:got + m) = c.(names{k});
    end
    got = got + m;
  end
  if got < n   % samples that could not be read are left out
    for k = 1:numel(names)
      s.(names{k}) = s.(names{k})(1:got);
    end
  end
end

function t = trial_columns(tr, keys)
  t = struct('start_time', tr.start_time, 'end_time', tr.end_time, 'duration', tr.duration, ...
             'start_position', tr.start_position, 'end_position', tr.end_position, ...
             'block', vok_trial_blocks(tr.recording_time_half_ms, keys), 'identifier', {tr.identifier});
end
