function env = vok_test_setup(name)
%VOK_TEST_SETUP The programs and a fresh scratch folder of one Octave test.
  env.vokgen = getenv('VOKAPI_TEST_VOKGEN');
  env.vok = getenv('VOKAPI_TEST_VOK');
  env.python = getenv('VOKAPI_TEST_PYTHON');
  env.here = fileparts(mfilename('fullpath'));
  env.dir = fullfile(getenv('VOKAPI_TEST_TMP'), name);
  if isempty(env.vokgen) || isempty(getenv('VOKAPI_TEST_TMP'))
    error('test:setup', 'VOKAPI_TEST_VOKGEN and VOKAPI_TEST_TMP must be set (run the tests with ctest)');
  end
  if exist(env.dir, 'dir')
    confirm_recursive_rmdir(false);
    rmdir(env.dir, 's');
  end
  mkdir(env.dir);
end
