# Warnings and sanitizers for every target of the project.
add_compile_options(-Wall -Wextra -Werror)

if(KELVARA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

if(KELVARA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "KELVARA_FUZZ needs clang")
    endif()
    # Every object is instrumented for coverage; only the fuzz targets link libFuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(WIN32)
    # Header-only fmt in the Windows cross build.
    add_compile_definitions(FMT_HEADER_ONLY)
endif()

# kelvara_existing_targets(OUT names...): the project's own libraries among names that exist yet,
# plus every name that is not one of them. A layer whose folder has no sources yet has no target.
function(kelvara_existing_targets out)
    set(result "")
    foreach(dep IN LISTS ARGN)
        if(NOT dep MATCHES "^kelvara_" OR TARGET ${dep})
            list(APPEND result ${dep})
        endif()
    endforeach()
    set(${out} ${result} PARENT_SCOPE)
endfunction()

# kelvara_library(NAME SOURCES... [DEPS targets...]): one library per source folder. A folder with
# no sources yet makes no target.
function(kelvara_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    if(NOT ARG_SOURCES)
        return()
    endif()
    kelvara_existing_targets(deps ${ARG_DEPS})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${deps})
endfunction()
