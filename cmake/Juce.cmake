# JUCE 8.0.6 from Debian's archive, unpacked by scripts/setup.sh. Only JUCE's CMake
# module support is used: the package's prebuilt helper tools need a newer C library,
# so nothing here imports or runs them (no juceaide: resources are embedded by our own
# CMake, and no generated JuceHeader: sources include the module headers directly).
set(QUILLON_JUCE_ROOT "${PROJECT_SOURCE_DIR}/.cache/juce-8.0.6+ds-2" CACHE PATH "Unpacked JUCE packages")
set(juce_cmake_dir "${QUILLON_JUCE_ROOT}/usr/lib/x86_64-linux-gnu/cmake/JUCE-8.0.6")
set(JUCE_MODULES_DIR "${QUILLON_JUCE_ROOT}/usr/share/juce/modules" CACHE INTERNAL "JUCE modules")

if(NOT EXISTS "${juce_cmake_dir}/JUCEUtils.cmake" OR NOT EXISTS "${JUCE_MODULES_DIR}/juce_core")
    message(FATAL_ERROR "JUCE 8.0.6 not found under ${QUILLON_JUCE_ROOT}: run scripts/setup.sh first")
endif()

include("${juce_cmake_dir}/JUCEModuleSupport.cmake")
include("${juce_cmake_dir}/JUCEUtils.cmake")

foreach(module IN ITEMS juce_core juce_events juce_data_structures juce_audio_basics
                        juce_audio_formats juce_audio_processors juce_audio_plugin_client
                        juce_graphics juce_gui_basics juce_gui_extra)
    juce_add_module("${JUCE_MODULES_DIR}/${module}" ALIAS_NAMESPACE juce)
endforeach()

# Definitions shared by everything that compiles JUCE code in this project.
add_library(quillon_juce_options INTERFACE)
target_compile_definitions(quillon_juce_options INTERFACE
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_VST3_CAN_REPLACE_VST2=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_MODAL_LOOPS_PERMITTED=0
    JUCE_STRICT_REFCOUNTEDPOINTER=1)
# Debian's libpng and libjpeg, which JUCE's own targets link but plain targets must ask for.
target_link_libraries(quillon_juce_options INTERFACE juce::pkgconfig_JUCE_IMG_LINUX_DEPS)

# Turns files into a constant byte array in namespace BinaryData, as the plug-in expects:
# BinaryData::<name> and BinaryData::<name>Size, where <name> is the file name with
# every character other than letters and digits replaced by '_'.
function(quillon_add_binary_data target)
    set(out_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}")
    set(header "${out_dir}/BinaryData.h")
    set(source "${out_dir}/BinaryData.cpp")
    add_custom_command(
        OUTPUT "${header}" "${source}"
        COMMAND ${CMAKE_COMMAND} -DOUT_HEADER=${header} -DOUT_SOURCE=${source}
                "-DINPUTS=${ARGN}" -P "${PROJECT_SOURCE_DIR}/cmake/EmbedFiles.cmake"
        DEPENDS ${ARGN} "${PROJECT_SOURCE_DIR}/cmake/EmbedFiles.cmake"
        COMMENT "Embedding ${ARGN}"
        VERBATIM)
    add_library(${target} STATIC "${source}")
    target_include_directories(${target} PUBLIC "${out_dir}")
endfunction()

# Compiles JUCE modules into `target` once, as JUCE's own plug-in targets do, and lets the
# programs that link `target` see the module headers with the same settings without
# compiling the modules again (each JUCE configuration costs minutes to build).
function(quillon_link_juce_modules target)
    set(definitions JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1)
    set(libraries "")
    foreach(module IN LISTS ARGN)
        list(APPEND libraries juce::${module})
        list(APPEND definitions JUCE_MODULE_AVAILABLE_${module}=1)
    endforeach()
    target_link_libraries(${target} PRIVATE ${libraries})
    target_include_directories(${target} INTERFACE ${JUCE_MODULES_DIR})
    target_compile_definitions(${target} INTERFACE ${definitions} $<TARGET_PROPERTY:${target},COMPILE_DEFINITIONS>)
endfunction()
