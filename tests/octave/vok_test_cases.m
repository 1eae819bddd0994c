function dir = vok_test_cases(env)
%VOK_TEST_CASES Writes vokgen's recordings of peculiar cases; returns their folder.
  dir = fullfile(env.dir, 'cases');
  [status, out] = system(sprintf('"%s" cases "%s"', env.vokgen, dir));
  if status ~= 0
    error('test:vokgen', 'vokgen cases failed: %s', out);
  end
end
