# The FX-chain preset reader over whole files and over fuzz spliced into a valid preset.
vesk_fuzz_target(preset_json "${CMAKE_CURRENT_LIST_DIR}/preset_json_fuzz.cpp"
    DEPS vesk_presets RUNS 10000)
