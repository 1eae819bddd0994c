function test_voktrials()
%TEST_VOKTRIALS voktrials: trials by block and by message, the parts of the
%recording each trial holds, and bad arguments.
  env = vok_test_setup('voktrials');
  path = vok_test_generate(env, 'trials.vok', '--seed 31 --duration-ms 30000 --blocks 3 --rate 500');
  rec = vokread(path, 'Consistency', 1);

  % One trial per block; together they hold every sample (none lies outside
  % a block at consistency 1) and every event row of the blocks.
  t = voktrials(rec);
  assert(numel(t) == numel(rec.blocks) && isequal([t.block], 1:numel(rec.blocks)));
  assert(isequal([t.start_position], [rec.blocks.start_position]));
  assert(all(cellfun(@isempty, {t.identifier})));
  total = 0;
  for k = 1:numel(t)
    p = double(t(k).samples.position);
    assert(all(p >= t(k).start_position & p < t(k).end_position));
    assert(isequal(fieldnames(t(k).samples), fieldnames(rec.samples)));
    total = total + numel(p);
  end
  assert(total == numel(rec.samples.time));

  % By message: a trial begins at a start message (its text is the
  % identifier) or at a block start, and its messages lie inside it.
  t = voktrials(rec, 'FIXATION_CROSS', 'RESPONSE_WINDOW');
  byMessage = ~cellfun(@isempty, {t.identifier});
  assert(any(byMessage) && all(strncmp({t(byMessage).identifier}, 'FIXATION_CROSS', 14)));
  for k = 1:numel(t)
    m = t(k).messages;
    assert(all(m.position >= t(k).start_position & m.position < t(k).end_position));
    if byMessage(k)
      assert(strcmp(m.text{1}, t(k).identifier) && m.time(1) == t(k).start_time);
    end
    ends = ~cellfun(@isempty, strfind(m.text, 'RESPONSE_WINDOW'));
    assert(~any(ends(1:end - 1)), 'an end message inside trial %d', k);
    assert(t(k).duration == t(k).end_time - t(k).start_time);
  end
  % The identifiers read with the recording give the same trials.
  again = vokread(path, 'Consistency', 1, 'Columns', {'time'}, 'TrialStart', 'FIXATION_CROSS', 'TrialEnd', 'RESPONSE_WINDOW');
  assert(isequal(again.trials.start_position, [t.start_position]') && isequal(again.trials.identifier', {t.identifier}));
  same = voktrials(again);
  assert(isequal([same.end_position], [t.end_position]));

  vok_test_error('vokapi:argument', @voktrials, 42);
  vok_test_error('vokapi:argument', @voktrials, rec, 5, 'x');
  gone = rec;
  gone.path = fullfile(env.dir, 'moved.vok');
  vok_test_error('vokapi:open', @voktrials, gone);
  disp('test_voktrials: passed');
end
