# Qt Test executables of the desktop program, shared by tests/components, tests/dialogs and
# tests/app. Each executable holds several test classes; every class is its own CTest test.
include_guard(GLOBAL)

add_library(kelvara_qt_test_support STATIC
    ${CMAKE_CURRENT_LIST_DIR}/qt_test_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_test_main.cpp)
target_link_libraries(kelvara_qt_test_support PUBLIC Qt6::Widgets Qt6::Test)
target_include_directories(kelvara_qt_test_support PUBLIC ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(kelvara_qt_test_support PUBLIC QT_NO_CAST_FROM_ASCII)
set_target_properties(kelvara_qt_test_support PROPERTIES AUTOMOC ON)

# kelvara_qt_test(NAME SOURCES... LIBS targets... CLASSES names...)
function(kelvara_qt_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;CLASSES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} kelvara_qt_test_support)
    target_compile_definitions(${name} PRIVATE
        KELVARA_CORPUS_DIR="${KELVARA_CORPUS_DIR}"
        KELVARA_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}/tests"
        KELVARA_TEST_BINARY_DIR="${PROJECT_BINARY_DIR}/tests")
    foreach(class IN LISTS ARG_CLASSES)
        add_test(NAME ${name}.${class} COMMAND ${name} ${class})
        set_tests_properties(${name}.${class} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
    endforeach()
endfunction()
