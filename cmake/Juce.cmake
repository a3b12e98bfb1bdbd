# JUCE from Debian's module sources (/usr/share/juce/modules), compiled here as static libraries.
include_guard(GLOBAL)
# Only what a target needs is built: juce_core (JSON, var, files) for the FX-chain presets, and
# juce_events, juce_graphics, juce_data_structures and juce_gui_basics for the editor. The engine
# libraries never link these.
set(VESK_JUCE_MODULES_DIR "/usr/share/juce/modules" CACHE PATH "JUCE module sources")
if(NOT EXISTS "${VESK_JUCE_MODULES_DIR}/juce_core/juce_core.cpp")
    message(FATAL_ERROR "JUCE modules not found in ${VESK_JUCE_MODULES_DIR}: "
        "run scripts/install-deps (package juce-modules-source-data)")
endif()

find_package(ZLIB REQUIRED)

# Module settings normally written by a Projucer AppConfig.h. The same set for every JUCE
# translation unit, so all of them see one configuration.
set(VESK_JUCE_DEFINITIONS
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
    JUCE_STANDALONE_APPLICATION=0
    JUCE_USE_CURL=0
    JUCE_WEB_BROWSER=0
    JUCE_INCLUDE_ZLIB_CODE=0
    # Debian's JUCE carries no copies of libpng and libjpeg: the system's are linked.
    JUCE_INCLUDE_PNGLIB_CODE=0
    JUCE_INCLUDE_JPEGLIB_CODE=0
    JUCE_MODULE_AVAILABLE_juce_core=1
    JUCE_MODULE_AVAILABLE_juce_events=1
    JUCE_MODULE_AVAILABLE_juce_graphics=1
    JUCE_MODULE_AVAILABLE_juce_data_structures=1
    JUCE_MODULE_AVAILABLE_juce_gui_basics=1
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_CHECK_MEMORY_LEAKS=0
    JUCE_DONT_DECLARE_PROJECTINFO=1
    DONT_SET_USING_JUCE_NAMESPACE=1)

# vesk_juce_module(name [DEPS ...]): one JUCE module as a static library of its own.
function(vesk_juce_module name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    set(source "${VESK_JUCE_MODULES_DIR}/${name}/${name}.cpp")
    if(APPLE AND EXISTS "${VESK_JUCE_MODULES_DIR}/${name}/${name}.mm")
        set(source "${VESK_JUCE_MODULES_DIR}/${name}/${name}.mm")
    endif()
    set(target vesk_${name})
    add_library(${target} STATIC "${source}")
    target_include_directories(${target} SYSTEM PUBLIC "${VESK_JUCE_MODULES_DIR}")
    target_compile_definitions(${target} PUBLIC ${VESK_JUCE_DEFINITIONS}
        $<$<CONFIG:Debug>:JUCE_DEBUG=1>)
    # Third-party code: its warnings are not ours to fix, and its undefined-behaviour checks are
    # not ours to act on (the address sanitizer still covers it).
    target_compile_options(${target} PRIVATE -w)
    if(VESK_SANITIZE MATCHES "undefined")
        target_compile_options(${target} PRIVATE -fno-sanitize=undefined)
    endif()
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
endfunction()

vesk_juce_module(juce_core DEPS ZLIB::ZLIB Threads::Threads ${CMAKE_DL_LIBS})
if(NOT APPLE)
    target_link_libraries(vesk_juce_core PUBLIC rt)
endif()

# The editor's modules, only when the editor is built.
if(VESK_BUILD_GUI)
    vesk_juce_module(juce_events DEPS vesk_juce_core)
    vesk_juce_module(juce_data_structures DEPS vesk_juce_events)
    if(APPLE)
        vesk_juce_module(juce_graphics DEPS vesk_juce_events
            "-framework Cocoa" "-framework QuartzCore")
        vesk_juce_module(juce_gui_basics DEPS vesk_juce_graphics vesk_juce_data_structures
            "-framework Cocoa" "-framework QuartzCore" "-weak_framework Metal"
            "-weak_framework MetalKit")
    else()
        pkg_check_modules(FREETYPE REQUIRED IMPORTED_TARGET freetype2)
        pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)
        pkg_check_modules(LIBJPEG REQUIRED IMPORTED_TARGET libjpeg)
        vesk_juce_module(juce_graphics DEPS vesk_juce_events PkgConfig::FREETYPE PkgConfig::LIBPNG
            PkgConfig::LIBJPEG)
        # X11 itself is loaded by JUCE at run time; only its headers are needed to build.
        vesk_juce_module(juce_gui_basics DEPS vesk_juce_graphics vesk_juce_data_structures)
    endif()
endif()
