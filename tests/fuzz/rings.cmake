vesk_fuzz_target(vesk_rings_fuzz "${CMAKE_CURRENT_SOURCE_DIR}/RingsFuzz.cpp"
    DEPS vesk_plugin_core RUNS 4000)
