function test_compare_python()
%TEST_COMPARE_PYTHON vokread gives, value for value, what the Python
%package's samples() and events() give, on random recordings of one and both
%eyes at 250 to 2000 Hz, compressed, cut and damaged (read tolerantly); and
%voktrials the rows of its trials.  The seed of the random recordings is
%VOKAPI_TEST_SEED when set.
  env = vok_test_setup('compare');
  seed = str2double(getenv('VOKAPI_TEST_SEED'));
  if isnan(seed)
    seed = 1000;
  end
  fprintf('test_compare_python: seed %d\n', seed);
  cases = vok_test_cases(env);
  gen = @(name, args) vok_test_generate(env, name, sprintf('--seed %d --duration-ms 12000 %s', seed + numel(name), args));
  % path, consistency, tolerant, trial identifiers
  jobs = {
    gen('left250.vok', '--eyes left --rate 250 --blocks 2'), 1, false, {}
    gen('right500.vok', '--eyes right --rate 500 --blocks 3 --gaps'), 2, false, {}
    gen('both1000.vok', '--rate 1000 --compressed --head-data --errors --skip-blocks'), 2, false, ...
        {'FIXATION_CROSS', 'RESPONSE_WINDOW'}
    gen('both2000.vok', '--rate 2000 --blocks 2'), 0, false, {}
    gen('late.vok', '--rate 500 --near-2-31'), 1, false, {}
    gen('cut.vok', '--rate 1000 --cut 300000'), 2, true, {}
    gen('cutpacked.vok', '--rate 2000 --eyes left --compressed --cut 90000'), 1, true, {}
    fullfile(cases, 'truncated-tail.vok'), 2, true, {}
    fullfile(cases, 'damaged-compressed-body.vok'), 1, true, {}
    fullfile(cases, 'two-blinks-in-saccade.vok'), 2, false, {}
  };
  specs = cell(1, size(jobs, 1));
  for k = 1:size(jobs, 1)
    specs{k} = sprintf('%s,%d,%d', jobs{k, 1}, jobs{k, 2}, jobs{k, 3});
    if ~isempty(jobs{k, 4})
      specs{k} = sprintf('%s,%s,%s', specs{k}, jobs{k, 4}{:});
    end
  end
  out = fullfile(env.dir, 'python.bin');
  [status, text] = system(sprintf('"%s" "%s" "%s" %s', env.python, fullfile(env.here, 'python_values.py'), out, ...
                                  sprintf('"%s" ', specs{:})));
  assert(status == 0, 'the Python side failed: %s', text);
  py = read_values(out);

  compared = 0;
  for k = 1:size(jobs, 1)
    rec = vokread(jobs{k, 1}, 'Consistency', jobs{k, 2}, 'Tolerant', jobs{k, 3}, 'Columns', 'all');
    where = sprintf('%s (job %d)', jobs{k, 1}, k);
    assert(numel(rec.samples.time) > 0 && numel(rec.events.type) > 0, 'nothing read from %s', where);
    compared = compared + same(py, sprintf('%d.samples.', k), rec.samples, where);
    compared = compared + same(py, sprintf('%d.events.', k), rec.events, where);
    if ~isempty(jobs{k, 4})
      t = voktrials(rec, jobs{k, 4}{:});
      prefix = sprintf('%d.trials.', k);
      assert(isequal(py([prefix 'start_position'])', double([t.start_position])), 'trial starts of %s', where);
      assert(isequal(py([prefix 'end_position'])', double([t.end_position])), 'trial ends of %s', where);
      assert(isequal(py([prefix 'start_time'])', [t.start_time]) && isequal(py([prefix 'end_time'])', [t.end_time]));
      for j = 1:numel(t)
        assert(isequal(py(sprintf('%d.trial%d.samples.position', k, j)), double(t(j).samples.position)));
        compared = compared + same(py, sprintf('%d.trial%d.events.', k, j), t(j).events, where);
      end
    end
  end
  fprintf('test_compare_python: %d columns of %d recordings equal\n', compared, size(jobs, 1));
  disp('test_compare_python: passed');
end

% Every column the Python side wrote under PREFIX equals the column of S.
function n = same(py, prefix, s, where)
  n = 0;
  names = keys(py);
  for i = 1:numel(names)
    key = names{i};
    if ~strncmp(key, prefix, numel(prefix))
      continue;
    end
    column = key(numel(prefix) + 1:end);
    assert(isfield(s, column), 'vokread lacks the column %s of %s', column, where);
    expected = py(key);
    got = s.(column);
    if iscell(expected)
      ok = isequal(got(:), expected(:));
    else
      ok = isequaln(double(got(:)), expected(:));
    end
    if ~ok
      if iscell(expected)
        bad = find(~cellfun(@isequal, got(:), expected(:)), 1);
        error('test:compare', '%s%s differs in row %d of %s', prefix, column, bad, where);
      end
      bad = find(~(double(got(:)) == expected(:) | (isnan(double(got(:))) & isnan(expected(:)))), 1);
      error('test:compare', '%s%s differs in row %d of %s: %.17g (vokread) against %.17g (Python)', ...
            prefix, column, bad, where, double(got(bad)), expected(bad));
    end
    n = n + 1;
  end
  assert(n > 0, 'the Python side wrote no %s columns for %s', prefix, where);
end

% The entries of python_values.py, by name.
function py = read_values(path)
  f = fopen(path, 'r', 'ieee-le');
  closer = onCleanup(@() fclose(f));
  py = containers.Map();
  while true
    len = fread(f, 1, 'uint32');
    if isempty(len)
      break;
    end
    name = char(fread(f, len, 'uint8=>char')');
    kind = fread(f, 1, 'uint8');
    count = fread(f, 1, 'uint32');
    if kind == 0
      py(name) = fread(f, count, 'float64');
    else
      texts = cell(count, 1);
      for k = 1:count
        n = fread(f, 1, 'uint32');
        texts{k} = char(fread(f, n, 'uint8=>char')');
        if n == 0
          texts{k} = '';
        end
      end
      py(name) = texts;
    end
  end
end
