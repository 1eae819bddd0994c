function test_vokread()
%TEST_VOKREAD vokread: the struct it returns, the chunked fill, options,
%errors and temporary files.
  env = vok_test_setup('vokread');
  demo = vok_test_generate(env, 'demo.vok', 'demo');

  % The demo: 2 blocks of 1500 samples at 500 Hz, both eyes.
  rec = vokread(demo);
  s = rec.samples;
  assert(numel(rec.blocks) == 2 && numel(s.time) == 3000);
  assert(isequal([rec.blocks.start_time], [600000 604499]) && isequal([rec.blocks.sample_rate], [500 500]));
  assert(strcmp(rec.blocks(1).eyes, 'both') && rec.blocks(1).end_position == 1560);
  assert(isa(s.time, 'double') && isa(s.left_gaze_x, 'single') && isa(s.flags, 'uint16') && isa(s.position, 'uint32'));
  assert(all(diff(s.time) > 0) && all(diff(double(s.position)) > 0));
  assert(isequal(rec.trials.start_position, uint32([0; 1561])) && isequal(rec.trials.block, [1; 2]));
  % Missing values are NaN, never the library's markers.
  names = fieldnames(s);
  for k = 1:numel(names)
    v = double(s.(names{k}));
    assert(~any(v == 1e8 | v == -32768), 'marker in %s', names{k});
  end
  fix = strcmp(rec.events.type, 'fixation');
  assert(nnz(fix) == 24 && all(rec.events.duration(fix) > 0));
  assert(all(strcmp(rec.events.pair(fix), 'complete')));
  assert(numel(rec.messages.time) == 8 && iscellstr(rec.messages.text));
  assert(iscell(rec.preamble) && strcmp(rec.preamble{end}, 'SEED: 7') && isempty(rec.diagnostics));

  % One eye: the other eye's columns are all NaN.
  left = vokread(vok_test_generate(env, 'left.vok', '--seed 3 --duration-ms 4000 --eyes left'));
  assert(all(isnan(left.samples.right_gaze_x)) && all(isnan(left.samples.right_pupil_size)));
  assert(mean(isfinite(left.samples.left_gaze_x)) > 0.5);
  assert(~any(strcmp(left.events.eye, 'right')));

  % Filled in place (Octave's way), chunk by chunk, and returned from one
  % call (MATLAB's way): the same recording.
  big = vok_test_generate(env, 'big.vok', '--seed 5 --duration-ms 20000 --rate 1000 --head-data --errors');
  whole = vokread(big, 'Columns', 'all', 'ChunkRows', Inf);
  pieces = vokread(big, 'Columns', 'all', 'ChunkRows', 777);
  inplace = vokread(big, 'Columns', 'all');
  assert(isequaln(whole.samples, pieces.samples) && isequaln(whole.events, pieces.events));
  assert(isequaln(whole.samples, inplace.samples) && isequaln(whole, setfield(inplace, 'options', whole.options)));
  assert(numel(fieldnames(whole.samples)) == numel(vokmex('columns')));
  % Words are NaN exactly where the sample does not carry them.
  carried = bitand(whole.samples.flags, uint16(hex2dec('0010'))) ~= 0;
  assert(any(carried) && isequal(isnan(whole.samples.head_data_type), ~carried));

  % Options.
  part = vokread(demo, 'Columns', {'time', 'left_gaze_x'});
  assert(isequal(sort(fieldnames(part.samples)), sort({'left_gaze_x'; 'position'; 'time'})));
  none = vokread(demo, 'Columns', {});
  assert(isempty(fieldnames(none.samples)) && isequaln(none.events, rec.events));
  nosamples = vokread(demo, 'Samples', false);
  assert(isempty(nosamples.samples.time) && nosamples.items < rec.items);
  noevents = vokread(demo, 'Events', false);
  assert(isempty(noevents.events.type) && numel(noevents.samples.time) == 3000);
  byMessage = vokread(demo, 'TrialStart', 'FIXATION_CROSS', 'TrialEnd', 'RESPONSE_WINDOW');
  assert(all(strncmp(byMessage.trials.identifier(~cellfun(@isempty, byMessage.trials.identifier)), 'FIXATION_CROSS', 14)));
  w = warning('off', 'vokapi:noTable');
  tab = vokread(demo, 'AsTable', true);
  warning(w);
  assert(isstruct(tab.samples));   % Octave has no tables

  % Argument errors.
  vok_test_error('vokapi:argument', @vokread, 42);
  vok_test_error('vokapi:argument', @vokread, demo, 'Consistency', 7);
  vok_test_error('vokapi:argument', @vokread, demo, 'Tolerant');
  vok_test_error('vokapi:argument', @vokread, demo, 'Bogus', 1);
  vok_test_error('vokapi:argument', @vokread, demo, 'Columns', {'time', 'nope'});
  vok_test_error('vokapi:argument', @vokread, demo, 'Columns', {'time', 'time'});
  vok_test_error('vokapi:argument', @vokread, demo, 'Resolution', 'x');
  vok_test_error('vokapi:argument', @vokmex);
  vok_test_error('vokapi:argument', @vokmex, 'read', 12345, {}, 1);
  vok_test_error('vokapi:argument', @vokmex, 'open', demo, 3);
  vok_test_error('vokapi:argument', @vokmex, 'open', {demo}, struct());
  vok_test_error('vokapi:argument', @vokmex, 'lowerbound', [1 2], 1);
  h = vokmex('open', demo, rec.options.open);
  vok_test_error('vokapi:argument', @vokmex, 'fill', h, struct('time', zeros(3000, 1, 'single')));
  vok_test_error('vokapi:argument', @vokmex, 'fill', h, struct('time', zeros(3000, 1), 'flags', zeros(2, 1, 'uint16')));
  vok_test_error('vokapi:argument', @vokmex, 'fill', h, struct('time', zeros(3000, 2)));
  vokmex('close', h);
  vok_test_error('vokapi:argument', @vokmex, 'read', h, {'time'}, 10);   % closed

  % Files that cannot be opened: the library's reason, and no temporary file
  % left behind (compressed bodies are inflated into TMPDIR).
  cases = vok_test_cases(env);
  tmp = fullfile(env.dir, 'tmp');
  mkdir(tmp);
  saved = getenv('TMPDIR');
  setenv('TMPDIR', tmp);
  err = vok_test_error('vokapi:open', @vokread, fullfile(env.dir, 'missing.vok'));
  assert(~isempty(strfind(err.message, 'missing.vok')));
  err = vok_test_error('vokapi:open', @vokread, fullfile(cases, 'bad-magic.vok'));
  assert(numel(err.message) > numel('cannot open'));
  vok_test_error('vokapi:open', @vokread, fullfile(cases, 'damaged-compressed-body.vok'));
  vok_test_error('vokapi:open', @vokread, env.dir);
  assert(numel(dir(tmp)) == 2, 'a failed open left a temporary file');
  damaged = vokread(fullfile(cases, 'damaged-compressed-body.vok'), 'Tolerant', true);
  assert(numel(dir(tmp)) == 2, 'a closed recording left its temporary file');
  setenv('TMPDIR', saved);
  assert(~isempty(damaged.samples.time) && ~isempty(damaged.diagnostics));
  cut = vokread(fullfile(cases, 'truncated-tail.vok'), 'Tolerant', true);
  assert(max(cut.samples.time) < 5000 && iscellstr(cut.diagnostics) && ~isempty(cut.diagnostics));

  % Every byte count of a cut recording, strict and tolerant: an error or a
  % recording, never a crash.
  f = fopen(demo, 'r');
  bytes = fread(f, Inf, 'uint8=>uint8');
  fclose(f);
  for n = [0 1 20 200 400 1000:3217:numel(bytes)]
    piece = fullfile(env.dir, 'piece.vok');
    f = fopen(piece, 'w');
    fwrite(f, bytes(1:n));
    fclose(f);
    try
      r = vokread(piece);
      assert(numel(r.samples.time) <= 3000);
    catch e
      assert(strcmp(e.identifier, 'vokapi:open'), e.message);
    end
    r = [];
    try
      r = vokread(piece, 'Tolerant', true);
    catch e
      assert(strcmp(e.identifier, 'vokapi:open'), e.message);
    end
    if ~isempty(r)
      assert(numel(r.samples.time) <= 3000);
    end
  end

  % Help text.
  for f = {'vokread', 'vokinfo', 'voktrials'}
    text = evalc(['help ' f{1}]);
    assert(~isempty(strfind(text, upper(f{1}))) && ~isempty(strfind(text, 'Example')), 'help %s', f{1});
  end
  disp('test_vokread: passed');
end
