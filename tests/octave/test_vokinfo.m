function test_vokinfo()
%TEST_VOKINFO vokinfo prints, line for line, what "vok info" prints for the
%same recording and options: blocks and their counts, items outside blocks,
%trials by block or by message, diagnostics, damaged files read tolerantly,
%shifted times.
  env = vok_test_setup('vokinfo');
  cases = vok_test_cases(env);
  runs = {
    vok_test_generate(env, 'demo.vok', 'demo'), {}, ''
    vok_test_generate(env, 'right.vok', '--seed 21 --duration-ms 9000 --eyes right --blocks 3 --rate 250'), {}, ''
    vok_test_generate(env, 'gaps.vok', '--seed 22 --duration-ms 8000 --gaps --rate 2000'), {'Consistency', 2}, '--consistency 2'
    vok_test_generate(env, 'late.vok', '--seed 23 --duration-ms 6000 --near-2-31'), {}, ''
    vok_test_generate(env, 'packed.vok', '--seed 24 --duration-ms 6000 --compressed'), ...
        {'TrialStart', 'FIXATION_CROSS', 'TrialEnd', 'RESPONSE_WINDOW'}, ...
        '--trial-start FIXATION_CROSS --trial-end RESPONSE_WINDOW'
    fullfile(cases, 'samples-between-blocks.vok'), {'Consistency', 0}, '--consistency 0'
    fullfile(cases, 'orphan-blink-end.vok'), {'Consistency', 2}, '--consistency 2'
    fullfile(cases, 'truncated-tail.vok'), {'Tolerant', true}, '--tolerant'
  };
  for k = 1:size(runs, 1)
    [path, options, flags] = runs{k, :};
    [status, expected] = system(sprintf('"%s" info %s "%s"', env.vok, flags, path));
    assert(status == 0, 'vok info failed on %s', path);
    got = vokinfo(path, options{:});
    if ~strcmp(got, expected)
      error('test:vokinfo', 'vokinfo differs from vok info for %s:\n--- vok info\n%s--- vokinfo\n%s', path, expected, got);
    end
  end
  % Printed when no output is asked for.
  printed = evalc('vokinfo(runs{1, 1})');
  assert(strcmp(printed, vokinfo(runs{1, 1})));
  vok_test_error('vokapi:open', @vokinfo, fullfile(cases, 'bad-magic.vok'));
  vok_test_error('vokapi:argument', @vokinfo, runs{1, 1}, 'Columns');
  disp('test_vokinfo: passed');
end
