# Third-party dependencies, all from Debian packages (scripts/install-deps).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile>=1.0.28)
pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr>=0.1.3)
pkg_check_modules(FFTW3F REQUIRED IMPORTED_TARGET fftw3f>=3.3)

# CLAP 1.1.1 headers as shipped by the DPF sources; plugin/clap/Clap12.h adds the 1.2 records.
find_path(VESK_CLAP_INCLUDE_DIR clap/entry.h
    PATHS /usr/share/dpf/distrho/src /usr/include /usr/local/include
    NO_DEFAULT_PATH)
if(NOT VESK_CLAP_INCLUDE_DIR)
    message(FATAL_ERROR "CLAP headers not found: run scripts/install-deps (package dpf-source)")
endif()
add_library(vesk_clap INTERFACE)
target_include_directories(vesk_clap SYSTEM INTERFACE "${VESK_CLAP_INCLUDE_DIR}")
target_include_directories(vesk_clap INTERFACE "${PROJECT_SOURCE_DIR}")

if(VESK_BUILD_TESTS)
    find_package(GTest REQUIRED)
    pkg_check_modules(FFTW3 REQUIRED IMPORTED_TARGET fftw3>=3.3)
    include(GoogleTest)
endif()
if(VESK_BUILD_BENCH)
    find_package(benchmark REQUIRED)
endif()
