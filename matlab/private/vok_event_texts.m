function ev = vok_event_texts(ev)
%VOK_EVENT_TEXTS The text columns of the MEX function's events: the codes of
%type, eye and pair as cells of texts, and the message texts in their rows.
  kinds = {'', 'fixation', 'saccade', 'blink', 'message', 'button', 'input'};
  eyes = {'', 'left', 'right'};
  pairs = {'', 'complete', 'start-only', 'end-only'};
  ev.type = reshape(kinds(double(ev.type) + 1), [], 1);
  ev.eye = reshape(eyes(double(ev.eye) + 1), [], 1);
  ev.pair = reshape(pairs(double(ev.pair) + 1), [], 1);
  text = repmat({''}, numel(ev.type), 1);
  text(ev.text_rows) = ev.text;
  ev.text = text;
  ev = rmfield(ev, 'text_rows');
end
