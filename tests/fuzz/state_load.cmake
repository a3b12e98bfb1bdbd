# Loading plug-in states: whole fuzzed streams, and fuzzed edits and cuts of a valid rich stream.
vesk_fuzz_target(state_load "${CMAKE_CURRENT_LIST_DIR}/state_load_fuzz.cpp"
    DEPS vesk_plugin_core vesk_audio_files RUNS 2000)
