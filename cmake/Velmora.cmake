# Target helpers shared by every folder. Sources are globbed so that adding a
# file needs no edit here; a folder without sources yet becomes an INTERFACE
# target so its headers are still usable.

set(VELMORA_WARNINGS -Wall -Wextra -Werror -Wno-missing-field-initializers)
# GCC 12 reports false -Wrestrict overlaps inside std::string at -O3 (its bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    list(APPEND VELMORA_WARNINGS -Wno-restrict)
endif()

# velmora_library(<name> ROOT <include-root> [SHARED] [DEPS <targets>...])
function(velmora_library name)
    cmake_parse_arguments(ARG "SHARED" "ROOT" "DEPS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS
         ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(sources)
        if(ARG_SHARED)
            add_library(${name} SHARED ${sources})
        else()
            add_library(${name} STATIC ${sources})
        endif()
        target_include_directories(${name} PUBLIC ${ARG_ROOT})
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
        target_compile_options(${name} PRIVATE ${VELMORA_WARNINGS})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${ARG_ROOT})
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

# velmora_test(<name> [QT] [DEPS <targets>...]): one GoogleTest executable from
# the *.cpp files of the current folder, registered with CTest. QT tests get a
# main() that makes a QApplication first.
function(velmora_test name)
    cmake_parse_arguments(ARG "QT" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS
         ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(NOT sources)
        return()
    endif()
    if(ARG_QT)
        find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
        add_executable(${name} ${sources} ${PROJECT_SOURCE_DIR}/tests/support/QtTestMain.cpp)
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Widgets Qt6::Test
                                              GTest::gtest GTest::gmock)
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
    else()
        add_executable(${name} ${sources})
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock
                                              GTest::gtest_main)
    endif()
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_options(${name} PRIVATE ${VELMORA_WARNINGS})
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1;VELMORA_TEST=1"
        TIMEOUT 600)
endfunction()

# velmora_bench(<name> SOURCES <files>... [DEPS <targets>...])
function(velmora_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/bench)
    target_compile_options(${name} PRIVATE ${VELMORA_WARNINGS})
    set_property(GLOBAL APPEND PROPERTY VELMORA_BENCHMARKS ${name})
endfunction()

# Adds every immediate subfolder of the current folder that has a CMakeLists.txt.
function(velmora_add_subfolders)
    file(GLOB children LIST_DIRECTORIES true CONFIGURE_DEPENDS
         ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child ${children})
        if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
