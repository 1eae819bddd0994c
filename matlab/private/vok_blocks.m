function [blocks, keys] = vok_blocks(r)
%VOK_BLOCKS Recording blocks from the block start and end records: the
%samples and events starts of one block may come as two records.  KEYS holds
%the item key of each block's first start record.
  eyes = {'left', 'right', 'both'};
  kinds = {'samples', 'events', 'both'};
  blocks = struct('start_time', {}, 'end_time', {}, 'duration', {}, 'sample_rate', {}, 'eyes', {}, ...
                  'records', {}, 'filter', {}, 'mode', {}, 'pupil_type', {}, 'position_type', {}, ...
                  'sample_flags', {}, 'event_flags', {}, 'start_position', {}, 'end_position', {});
  keys = zeros(0, 1);
  isOpen = false;
  type = 0;
  for k = 1:numel(r.time)
    if r.state(k) ~= 0
      if isOpen && bitand(bitand(type, r.record_type(k)), 3) == 0
        type = bitor(type, r.record_type(k));
        blocks(end).records = name_of(kinds, type);
        continue;
      end
      b = struct('start_time', r.time(k), 'end_time', NaN, 'duration', NaN, ...
                 'sample_rate', r.sample_rate(k), 'eyes', name_of(eyes, r.eye(k)), ...
                 'records', name_of(kinds, r.record_type(k)), 'filter', r.filter_type(k), ...
                 'mode', r.recording_mode(k), 'pupil_type', r.pupil_type(k), ...
                 'position_type', r.position_type(k), 'sample_flags', r.sample_flags(k), ...
                 'event_flags', r.event_flags(k), 'start_position', r.position(k), 'end_position', NaN);
      blocks(end + 1) = b; %#ok<AGROW>
      keys(end + 1, 1) = r.time_half_ms(k); %#ok<AGROW>
      isOpen = true;
      type = r.record_type(k);
    elseif isOpen
      blocks(end).end_time = r.time(k);
      blocks(end).duration = r.time(k) - blocks(end).start_time;
      blocks(end).end_position = r.position(k);
      isOpen = false;
    end
  end
end

function n = name_of(names, k)
  if k >= 1 && k <= numel(names)
    n = names{k};
  else
    n = 'none';
  end
end
