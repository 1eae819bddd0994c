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
  rec.events = vok_event_texts(ev.events);
  rec.messages = vok_messages(rec.events);
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
  octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
  if isempty(chunk) && octave && n > 0
    % Octave copies the arrays a MEX function returns: the columns are made
    % here at their final size and the library writes into them in place.
    [known, classes] = vokmex('columns');
    for k = 1:numel(names)
      s.(names{k}) = zeros(n, 1, classes{strcmp(known, names{k})});
    end
    [got, done] = vokmex('fill', h, s);
  elseif isempty(chunk) || isinf(chunk)
    [s, done] = vokmex('read', h, names, Inf);   % the arrays as the library filled them
    got = numel(s.(names{1}));
    n = got;
  else
    % Chunk by chunk into columns made at their final size.
    [c, done] = vokmex('read', h, names, chunk);
    got = numel(c.(names{1}));
    for k = 1:numel(names)
      f = names{k};
      column = zeros(max(n, got), 1, class(c.(f)));
      column(1:got) = c.(f);
      s.(f) = column;
    end
    clear column c;
  end
  step = 65536;
  if ~isempty(chunk) && isfinite(chunk)
    step = chunk;
  end
  while ~done   % more samples than the count promised, or the next chunk
    [c, done] = vokmex('read', h, names, step);
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
