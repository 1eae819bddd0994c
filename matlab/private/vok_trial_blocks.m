function b = vok_trial_blocks(recordingKeys, blockKeys)
%VOK_TRIAL_BLOCKS The block number of each trial: the block whose first start
%record is the trial's recording record (the last such block), 0 for none.
  b = zeros(numel(recordingKeys), 1);
  for k = 1:numel(blockKeys)
    b(recordingKeys == blockKeys(k)) = k;
  end
end
