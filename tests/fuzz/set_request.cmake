# The variation-set request and naming-template readers, over whole requests and over fuzz
# spliced into a valid request.
vesk_fuzz_target(set_request "${CMAKE_CURRENT_LIST_DIR}/set_request_fuzz.cpp"
    DEPS vesk_export RUNS 20000)
