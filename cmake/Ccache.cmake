# Use ccache when present, so rebuilds on the same machine (CI included) are fast.
find_program(VESK_CCACHE ccache)
if(VESK_CCACHE)
    set(CMAKE_C_COMPILER_LAUNCHER "${VESK_CCACHE}")
    set(CMAKE_CXX_COMPILER_LAUNCHER "${VESK_CCACHE}")
endif()
