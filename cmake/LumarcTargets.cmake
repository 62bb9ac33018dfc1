# Helpers shared by every folder: warnings, sanitizers, exported symbols and
# the way tests are registered with CTest.

set(LUMARC_WARNINGS
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wimplicit-fallthrough -Wformat=2)
if(LUMARC_WERROR)
    list(APPEND LUMARC_WARNINGS -Werror)
endif()

if(LUMARC_SANITIZE)
    add_compile_options(-fsanitize=${LUMARC_SANITIZE} -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${LUMARC_SANITIZE})
endif()

# Our own targets get the warning set; third-party code does not.
function(lumarc_warnings target)
    target_compile_options(${target} PRIVATE ${LUMARC_WARNINGS})
endfunction()

# A shared library whose exports are exactly those listed in a linker
# version script.
function(lumarc_export_map target map_file)
    target_link_options(${target} PRIVATE "LINKER:--version-script=${map_file}")
    # Sanitizer runtimes live in the executable, so only plain builds can
    # insist that a library resolves every symbol itself.
    if(NOT LUMARC_SANITIZE)
        target_link_options(${target} PRIVATE "LINKER:--no-undefined")
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map_file})
endfunction()

set(LUMARC_NETNS_RUNNER ${CMAKE_SOURCE_DIR}/cmake/run-in-netns.sh)
set(LUMARC_SKIP_CODE 77)

# A GoogleTest binary that touches no network.
function(lumarc_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    lumarc_warnings(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

# A GoogleTest binary that opens sockets: CTest runs it inside a private
# network namespace (loopback up, a veth pair with a default route so that
# limited broadcasts loop back to local listeners). Nothing it sends can leave
# the machine.
function(lumarc_add_network_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    lumarc_warnings(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${LUMARC_NETNS_RUNNER} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES
        TIMEOUT 300 SKIP_RETURN_CODE ${LUMARC_SKIP_CODE} LABELS network)
endfunction()

# Every program and shared library of the project carries the project's
# version as an ELF note (cmake/version_note.cpp.in: owner "Lumarc", type 1,
# four 16-bit numbers), which the configuration tool reads from the file.
function(lumarc_version_note)
    set(note ${CMAKE_BINARY_DIR}/generated/version_note.cpp)
    foreach(part MAJOR MINOR PATCH TWEAK)
        set(LUMARC_VERSION_${part} "${PROJECT_VERSION_${part}}")
        if(LUMARC_VERSION_${part} STREQUAL "")
            set(LUMARC_VERSION_${part} 0)
        endif()
    endforeach()
    # Written only when its text changes, so a configure run rebuilds nothing.
    configure_file(${CMAKE_SOURCE_DIR}/cmake/version_note.cpp.in ${note} @ONLY)
    foreach(target ${ARGN})
        target_sources(${target} PRIVATE ${note})
    endforeach()
endfunction()
