# The WAV decoder over arbitrary file images and over valid headers with fuzzed fields.
vesk_fuzz_target(wav_decode "${CMAKE_CURRENT_LIST_DIR}/wav_decode_fuzz.cpp" DEPS vesk_audio_files RUNS 6000)
