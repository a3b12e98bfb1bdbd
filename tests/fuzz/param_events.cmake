# Host parameter events (values, modulation, notes, malformed headers) in process and flush, and
# parameter texts, into one long-lived instance.
vesk_fuzz_target(vesk_param_events_fuzz "${CMAKE_CURRENT_LIST_DIR}/param_events_fuzz.cpp"
    DEPS vesk_plugin_core vesk_audio_files RUNS 4000)
