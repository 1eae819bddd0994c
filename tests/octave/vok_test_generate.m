function path = vok_test_generate(env, name, args)
%VOK_TEST_GENERATE Writes a recording with vokgen ("generate NAME ARGS", or
%"demo NAME" when ARGS is 'demo') into the test's folder.
  path = fullfile(env.dir, name);
  if strcmp(args, 'demo')
    command = sprintf('"%s" demo "%s"', env.vokgen, path);
  else
    command = sprintf('"%s" generate "%s" %s', env.vokgen, path, args);
  end
  [status, out] = system(command);
  if status ~= 0
    error('test:vokgen', 'vokgen failed (%s): %s', command, out);
  end
end
