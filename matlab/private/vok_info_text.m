function t = vok_info_text(path, o, rec, info)
%VOK_INFO_TEXT The report of vokinfo, in the layout of "vok info".
  r = info.recordings;
  % Blocks as the walk meets them, with the items of each stretch between
  % two block records counted into the block open there (or outside).
  seg = info.segment_counts;
  totals = sum(seg, 1);
  outside = seg(1, :);
  blocks = struct('number', {}, 'k', {}, 'last', {}, 'counts', {}, 'type', {});
  isOpen = false;
  seen = 0;
  for k = 1:numel(r.time)
    if r.state(k) ~= 0
      if isOpen && bitand(bitand(blocks(end).type, r.record_type(k)), 3) == 0
        blocks(end).type = bitor(blocks(end).type, r.record_type(k));
      else
        seen = seen + 1;
        blocks(end + 1) = struct('number', seen, 'k', k, 'last', 0, 'counts', zeros(1, 7), ...
                                 'type', r.record_type(k)); %#ok<AGROW>
        isOpen = true;
      end
    elseif isOpen
      blocks(end).last = k;
      isOpen = false;
    end
    if k + 1 <= size(seg, 1)
      if isOpen
        blocks(end).counts = blocks(end).counts + seg(k + 1, :);
      else
        outside = outside + seg(k + 1, :);
      end
    end
  end

  lines = {path};
  lines{end + 1} = row('revision', sprintf('%d', rec.revision));
  lines{end + 1} = row('tracker revision', sprintf('%d', rec.tracker_revision));
  lines{end + 1} = row('items', sprintf('%d', rec.items));
  lines{end + 1} = '  preamble';
  for k = 1:numel(rec.preamble)
    lines{end + 1} = ['    ' rec.preamble{k}]; %#ok<AGROW>
  end
  lines{end + 1} = row('blocks', sprintf('%d', numel(blocks)));
  eyes = {'left', 'right', 'both'};
  kinds = {'samples', 'events', 'both'};
  for b = blocks
    k = b.k;
    if b.last > 0
      span = sprintf('%d - %d ms (%d ms)', r.time(k), r.time(b.last), r.time(b.last) - r.time(k));
    else
      span = sprintf('%d ms - (no end record)', r.time(k));
    end
    plural = '';
    if r.eye(k) == 3, plural = 's'; end
    lines{end + 1} = row(sprintf('block %d', b.number), span); %#ok<AGROW>
    lines{end + 1} = row('', sprintf('%s Hz, %s eye%s, records %s, filter %d, mode %d', number(r.sample_rate(k)), ...
                                     name_of(eyes, r.eye(k)), plural, name_of(kinds, b.type), ...
                                     r.filter_type(k), r.recording_mode(k))); %#ok<AGROW>
    lines{end + 1} = row('', counts(b.counts)); %#ok<AGROW>
  end
  lines{end + 1} = row('total', counts(totals));
  if any(outside ~= 0)
    lines{end + 1} = row('outside blocks', counts(outside));
  end
  tr = rec.trials;
  n = numel(tr.start_time);
  if isempty(o.trial_start) && isempty(o.trial_end)
    lines{end + 1} = row('trials', sprintf('%d (one per block)', n));
  else
    lines{end + 1} = row('trials', sprintf('%d (start "%s", end "%s")', n, o.trial_start, o.trial_end));
  end
  % Trial times as the records are served: the shift of the time offset
  % fixup, learnt from the first block record.
  shift = 0;
  if ~isempty(r.time)
    shift = mod(floor(r.time_half_ms(1) / 2) - r.time(1), 2^32);
  end
  for k = 1:n
    where = '';
    if tr.block(k) > 0
      where = sprintf(', block %d', tr.block(k));
    end
    lines{end + 1} = row(sprintf('trial %d', k), sprintf('%d - %d ms (%d ms)%s', ...
        mod(tr.start_time(k) - shift, 2^32), mod(tr.end_time(k) - shift, 2^32), tr.duration(k), where)); %#ok<AGROW>
  end
  diagnostics = [info.diagnostics; info.step_diagnostics];
  if isempty(diagnostics)
    lines{end + 1} = row('diagnostics', 'none');
  else
    lines{end + 1} = row('diagnostics', sprintf('%d', numel(diagnostics)));
    for k = 1:numel(diagnostics)
      lines{end + 1} = ['    ' diagnostics{k}]; %#ok<AGROW>
    end
  end
  t = sprintf('%s\n', lines{:});
end

function s = row(label, value)
  s = sprintf('  %-17s%s', label, value);
end

function s = counts(c)
  s = sprintf('%d samples, %d fixations, %d saccades, %d blinks, %d messages, %d buttons, %d inputs', c);
end

function s = number(v)
  % The shortest text that reads back as the same single-precision value.
  if v == round(v) && abs(v) < 1e15
    s = sprintf('%d', v);
    return;
  end
  for p = 1:9
    s = sprintf('%.*g', p, v);
    if single(str2double(s)) == single(v)
      return;
    end
  end
end

function n = name_of(names, k)
  if k >= 1 && k <= numel(names)
    n = names{k};
  else
    n = 'none';
  end
end
