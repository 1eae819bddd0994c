function rows = vok_default_chunk()
%VOK_DEFAULT_CHUNK Sample rows per read call: all at once where the returned
%arrays are handed over as they are (MATLAB), a chunk where the interpreter
%copies them (Octave), so that the columns are never held twice.
  if exist('OCTAVE_VERSION', 'builtin') ~= 0
    rows = 262144;
  else
    rows = Inf;
  end
end
