# JUCE from Debian's module sources (/usr/share/juce/modules), compiled here as static libraries.
include_guard(GLOBAL)
# Only what a target needs is built: for now juce_core (JSON, var, files) for the FX-chain
# presets. The engine libraries never link these.
set(VESK_JUCE_MODULES_DIR "/usr/share/juce/modules" CACHE PATH "JUCE module sources")
if(NOT EXISTS "${VESK_JUCE_MODULES_DIR}/juce_core/juce_core.cpp")
    message(FATAL_ERROR "JUCE modules not found in ${VESK_JUCE_MODULES_DIR}: "
        "run scripts/install-deps (package juce-modules-source-data)")
endif()

find_package(ZLIB REQUIRED)

# Module settings normally written by a Projucer AppConfig.h.
set(VESK_JUCE_DEFINITIONS
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
    JUCE_STANDALONE_APPLICATION=0
    JUCE_USE_CURL=0
    JUCE_WEB_BROWSER=0
    JUCE_INCLUDE_ZLIB_CODE=0
    JUCE_MODULE_AVAILABLE_juce_core=1
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_CHECK_MEMORY_LEAKS=0
    JUCE_DONT_DECLARE_PROJECTINFO=1
    DONT_SET_USING_JUCE_NAMESPACE=1)

add_library(vesk_juce_core STATIC "${VESK_JUCE_MODULES_DIR}/juce_core/juce_core.cpp")
target_include_directories(vesk_juce_core SYSTEM PUBLIC "${VESK_JUCE_MODULES_DIR}")
target_compile_definitions(vesk_juce_core PUBLIC ${VESK_JUCE_DEFINITIONS}
    $<$<CONFIG:Debug>:JUCE_DEBUG=1>)
# Third-party code: its warnings are not ours to fix.
target_compile_options(vesk_juce_core PRIVATE -w)
target_link_libraries(vesk_juce_core PUBLIC ZLIB::ZLIB Threads::Threads ${CMAKE_DL_LIBS})
if(NOT APPLE)
    target_link_libraries(vesk_juce_core PUBLIC rt)
endif()
