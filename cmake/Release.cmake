# The version resource, and what the release build (cmake --preset release) adds to the others:
# an optimised library whose debug information is kept in a separate file, reproducible output, the MSI
# installer and the start-up benchmark.

# The one version number: project(ZorbexGUI VERSION ...) feeds the version resource and the installer.
configure_file(${CMAKE_CURRENT_LIST_DIR}/ZorbexVersion.h.in ${GEN_DIR}/ZorbexVersion.h @ONLY)

if(CMAKE_BUILD_TYPE STREQUAL "Release")
    set(ZORBEX_RELEASE ON)
    # -O2: -O3 makes the code larger for no gain here. Set before the benchmark's directory is added so
    # that it is built as the library is.
    set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")
    set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG")
else()
    set(ZORBEX_RELEASE OFF)
endif()

# zorbex_release_target(<target>): in the release build, compiled with debug information for the separate
# file, without the paths of the source and build trees in it (nor in __FILE__), and linked without a
# time stamp in the PE headers (the resources have none either): two checkouts build the same bytes.
function(zorbex_release_target target)
    if(NOT ZORBEX_RELEASE)
        return()
    endif()
    # The last matching map applies: sources read src/..., the compilation directory (the build tree) ".".
    target_compile_options(${target} PRIVATE
        -g -ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
    # The maps of the layers' include roots (build/layers/<layer>/ -> src/) come again, last: the last
    # matching map applies, and the headers read through the roots must read src/... too. They are
    # spelt without the closing slashes, so that CMake does not fold them into the same maps given before.
    foreach(root_map IN LISTS ZORBEX_LAYER_PREFIX_MAPS)
        string(REPLACE "/=src/" "=src" root_map "${root_map}")
        target_compile_options(${target} PRIVATE ${root_map})
    endforeach()
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "STATIC_LIBRARY")
        target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
    endif()
endfunction()

# zorbex_split_debug(<target>): in the release build, the shipped file keeps no symbols and no debug
# information; <file>.debug beside it keeps both, and the file names it (with its CRC) in a
# .gnu_debuglink section, where gdb and addr2line look for it. Call it where the target is defined.
function(zorbex_split_debug target)
    if(NOT ZORBEX_RELEASE)
        return()
    endif()
    # objcopy stamps the PE headers it writes with SOURCE_DATE_EPOCH, else with the time it runs: 0, as
    # the linker leaves them.
    set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
        COMMAND ${objcopy} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
                $<TARGET_FILE_NAME:${target}>
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
        COMMENT "Separating the debug information of $<TARGET_FILE_NAME:${target}>"
        VERBATIM)
endfunction()

foreach(layer IN LISTS ZORBEX_LAYERS)
    zorbex_release_target(zorbex_${layer})
endforeach()
zorbex_release_target(ZorbexGUI)
zorbex_split_debug(ZorbexGUI)

# The start-up benchmark and its do-nothing COM server, built in every configuration so that they keep
# compiling.
add_subdirectory(${CMAKE_SOURCE_DIR}/tools/release ${CMAKE_BINARY_DIR}/tools/release)

if(ZORBEX_RELEASE)
    include(${CMAKE_CURRENT_LIST_DIR}/Msi.cmake)
endif()
