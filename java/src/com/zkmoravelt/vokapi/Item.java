package com.zkmoravelt.vokapi;

/**
 * One item of a recording's time-ordered stream: an {@link Event}, a
 * {@link Sample} or a {@link RecordingInfo}.
 */
public interface Item {
    /**
     * The item type code (see {@link ItemType}): an event code,
     * {@link ItemType#RECORDING_INFO} or {@link ItemType#SAMPLE_TYPE}.
     */
    int getItemType();
}
