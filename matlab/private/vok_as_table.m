function rec = vok_as_table(rec)
%VOK_AS_TABLE The column structs of a recording as tables (MATLAB R2013b and
%later); Octave, which has no tables, keeps the structs.
  if exist('struct2table') == 0 %#ok<EXIST>
    warning('vokapi:noTable', 'tables are not available here (Octave has none): the struct form is returned');
    return;
  end
  for f = {'samples', 'events', 'messages', 'trials'}
    if isstruct(rec.(f{1})) && ~isempty(fieldnames(rec.(f{1})))
      rec.(f{1}) = struct2table(rec.(f{1}));
    end
  end
end
