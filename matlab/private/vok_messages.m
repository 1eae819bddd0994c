function m = vok_messages(events)
%VOK_MESSAGES The message rows of an events struct: time, text, extra, position.
  keep = strcmp(events.type, 'message');
  m = struct('time', events.start_time(keep), 'text', {events.text(keep)}, ...
             'extra', events.extra(keep), 'position', events.position(keep));
end
