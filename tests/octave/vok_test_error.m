function err = vok_test_error(id, f, varargin)
%VOK_TEST_ERROR Calls F(VARARGIN{:}) and checks that it raises an error with
%the identifier ID; returns the error.
  try
    f(varargin{:});
  catch err
    if ~strcmp(err.identifier, id)
      error('test:error', 'expected an error %s, got %s: %s', id, err.identifier, err.message);
    end
    return;
  end
  error('test:error', 'expected an error %s, but the call succeeded', id);
end
