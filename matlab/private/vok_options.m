function o = vok_options(path, args, defaultConsistency, caller)
%VOK_OPTIONS The name/value options of vokread, vokinfo and voktrials.
  if ~ischar(path) || (~isempty(path) && size(path, 1) ~= 1) || isempty(path)
    error('vokapi:argument', '%s: the path must be a non-empty text', caller);
  end
  o = struct('consistency', defaultConsistency, 'tolerant', false, 'events', true, 'samples', true, ...
             'columns', {vok_default_columns()}, 'trial_start', '', 'trial_end', '', 'time_fixup', true, ...
             'message_time_offsets', false, 'extra_messages', false, 'resolution', [], 'as_table', false, ...
             'chunk_rows', []);
  if mod(numel(args), 2) ~= 0
    error('vokapi:argument', '%s: options come as name, value pairs', caller);
  end
  for k = 1:2:numel(args)
    name = args{k};
    value = args{k + 1};
    if ~ischar(name)
      error('vokapi:argument', '%s: an option name must be a text', caller);
    end
    switch lower(name)
      case 'consistency'
        if ~isnumeric(value) || ~isscalar(value) || ~any(value == 0:3)
          error('vokapi:argument', '%s: Consistency must be 0, 1, 2 or 3', caller);
        end
        o.consistency = double(value);
      case 'tolerant', o.tolerant = flag(value, 'Tolerant', caller);
      case 'events', o.events = flag(value, 'Events', caller);
      case 'samples', o.samples = flag(value, 'Samples', caller);
      case 'timefixup', o.time_fixup = flag(value, 'TimeFixup', caller);
      case 'messagetimeoffsets', o.message_time_offsets = flag(value, 'MessageTimeOffsets', caller);
      case 'astable', o.as_table = flag(value, 'AsTable', caller);
      case 'columns'
        o.columns = column_list(value, caller);
      case 'trialstart', o.trial_start = text(value, 'TrialStart', caller);
      case 'trialend', o.trial_end = text(value, 'TrialEnd', caller);
      case 'extramessages'
        if ischar(value) && ~isempty(value) && size(value, 1) == 1
          o.extra_messages = value;
        else
          o.extra_messages = flag(value, 'ExtraMessages', caller);
        end
      case 'resolution'
        if ~isempty(value) && (~isnumeric(value) || numel(value) ~= 2 || ~isreal(value))
          error('vokapi:argument', '%s: Resolution must be [x y]', caller);
        end
        o.resolution = double(value(:)');
      case 'chunkrows'
        if ~isempty(value) && (~isnumeric(value) || ~isscalar(value) || ~(value >= 1))
          error('vokapi:argument', '%s: ChunkRows must be [] or a number of at least 1', caller);
        end
        o.chunk_rows = double(value);
      otherwise
        error('vokapi:argument', '%s: unknown option ''%s''', caller, name);
    end
  end
  % The arguments of the library's open call.
  flags = o.consistency;
  if o.tolerant, flags = flags + 4; end
  if ~o.time_fixup, flags = flags + 8; end
  if o.message_time_offsets, flags = flags + 16; end
  load_events = double(o.events);
  extra = '';
  if ischar(o.extra_messages)
    load_events = load_events + 2;
    extra = o.extra_messages;
  elseif o.extra_messages
    load_events = load_events + 2;
  end
  o.open = struct('flags', flags, 'load_events', load_events, 'load_samples', double(o.samples), ...
                  'extra_messages', extra, 'resolution', o.resolution);
end

function v = flag(value, name, caller)
  if (~islogical(value) && ~isnumeric(value)) || ~isscalar(value) || ~any(double(value) == [0 1])
    error('vokapi:argument', '%s: %s must be true or false', caller, name);
  end
  v = logical(value);
end

function v = text(value, name, caller)
  if ~ischar(value) || (~isempty(value) && size(value, 1) ~= 1)
    error('vokapi:argument', '%s: %s must be a text', caller, name);
  end
  v = value;
end

function names = column_list(value, caller)
  known = vokmex('columns');
  if ischar(value) && strcmp(value, 'all')
    names = known';
    return;
  end
  if ischar(value)
    value = {value};
  end
  if ~iscell(value) || ~all(cellfun(@ischar, value))
    error('vokapi:argument', '%s: Columns must be a cell array of column names, or ''all''', caller);
  end
  names = value(:)';
  unknown = setdiff(names, known);
  if ~isempty(unknown)
    error('vokapi:argument', '%s: unknown sample column(s) %s; known: %s', caller, ...
          strjoin(unknown, ', '), strjoin(known', ', '));
  end
  if numel(unique(names)) ~= numel(names)
    error('vokapi:argument', '%s: a sample column is named twice', caller);
  end
end
