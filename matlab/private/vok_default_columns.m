function names = vok_default_columns()
%VOK_DEFAULT_COLUMNS The sample columns vokread gives unless others are named.
  names = {'time', 'flags', 'position'};
  for eye = {'left', 'right'}
    for c = {'gaze_x', 'gaze_y', 'pupil_size', 'headref_x', 'headref_y', 'gaze_vel_x', 'gaze_vel_y'}
      names{end + 1} = [eye{1} '_' c{1}]; %#ok<AGROW>
    end
  end
  names = [names, {'resolution_x', 'resolution_y', 'input', 'buttons'}];
end
