# telvane_subsystem(NAME [DEPS subsystem...] [LIBS lib...] [TEST_LIBS lib...])
# Builds src/NAME/*.cpp into the static library telvane_NAME, adds it to
# telvane_core, and builds tests/NAME/*.cpp (when present) into test_NAME.
# A folder with no sources yet adds nothing.
function(telvane_subsystem name)
    cmake_parse_arguments(ARG "" "" "DEPS;LIBS;TEST_LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
    if(NOT sources)
        return()
    endif()
    add_library(telvane_${name} STATIC ${sources})
    target_include_directories(telvane_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    foreach(dep IN LISTS ARG_DEPS)
        if(TARGET telvane_${dep})
            target_link_libraries(telvane_${name} PUBLIC telvane_${dep})
        endif()
    endforeach()
    target_link_libraries(telvane_${name} PUBLIC Threads::Threads ${ARG_LIBS})
    target_link_libraries(telvane_core INTERFACE telvane_${name})

    file(GLOB tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${name}/*.cpp)
    if(TELVANE_BUILD_TESTS AND tests)
        add_executable(test_${name} ${tests})
        target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
        target_link_libraries(test_${name} PRIVATE telvane_${name} ${ARG_TEST_LIBS}
                              GTest::gtest GTest::gtest_main)
        target_compile_definitions(test_${name} PRIVATE
            TELVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
            TELVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
        gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60
                             PROPERTIES TIMEOUT 120 LABELS ${name})
    endif()
endfunction()

# Fails the configure when a library of the core links Qt: the core stays
# usable headless, and only the ui/ libraries and the desktop program take Qt.
function(telvane_check_core_without_qt)
    get_target_property(core_libs telvane_core INTERFACE_LINK_LIBRARIES)
    foreach(lib IN LISTS core_libs)
        if(NOT lib MATCHES "^telvane_" OR NOT TARGET ${lib})
            continue()
        endif()
        get_target_property(linked ${lib} LINK_LIBRARIES)
        foreach(dep IN LISTS linked)
            if(dep MATCHES "^Qt[0-9]*::")
                message(FATAL_ERROR "${lib} is part of the core and must not link ${dep}")
            endif()
        endforeach()
    endforeach()
endfunction()

# Gives target the four parts of the project version as
# TELVANE_VERSION_MAJOR, _MINOR, _PATCH and _TWEAK (missing parts are 0).
function(telvane_version_definitions target)
    foreach(part MAJOR MINOR PATCH TWEAK)
        set(value "${PROJECT_VERSION_${part}}")
        if(value STREQUAL "")
            set(value 0)
        endif()
        target_compile_definitions(${target} PRIVATE TELVANE_VERSION_${part}=${value})
    endforeach()
endfunction()

# telvane_ui_subsystem(NAME [DEPS ui-subsystem...] [LIBS lib...])
# Builds src/NAME/ui/*.cpp into the Qt Widgets library telvane_NAME_ui
# (linking telvane_NAME and the ui libraries named in DEPS), and each
# tests/NAME/ui/*Test.cpp into a Qt Test program test_NAME_ui_<File> that
# CTest runs on the offscreen platform. Not part of telvane_core.
function(telvane_ui_subsystem name)
    cmake_parse_arguments(ARG "" "" "DEPS;LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/ui/*.cpp
                                        ${PROJECT_SOURCE_DIR}/src/${name}/ui/*.h)
    if(NOT sources)
        return()
    endif()
    set(lib telvane_${name}_ui)
    add_library(${lib} STATIC ${sources})
    set_target_properties(${lib} PROPERTIES AUTOMOC ON)
    target_include_directories(${lib} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${lib} PUBLIC Qt6::Widgets ${ARG_LIBS})
    # Core headers use names such as "slots"; Qt code says Q_SIGNALS, Q_EMIT.
    target_compile_definitions(${lib} PUBLIC QT_NO_KEYWORDS)
    if(TARGET telvane_${name})
        target_link_libraries(${lib} PUBLIC telvane_${name})
    endif()
    foreach(dep IN LISTS ARG_DEPS)
        target_link_libraries(${lib} PUBLIC telvane_${dep}_ui)
    endforeach()

    file(GLOB tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${name}/ui/*Test.cpp)
    if(NOT TELVANE_BUILD_TESTS)
        return()
    endif()
    file(GLOB test_headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${name}/ui/*.h)
    foreach(test_source IN LISTS tests)
        get_filename_component(stem ${test_source} NAME_WE)
        set(test test_${name}_ui_${stem})
        add_executable(${test} ${test_source} ${test_headers})
        set_target_properties(${test} PROPERTIES AUTOMOC ON)
        target_include_directories(${test} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
        target_link_libraries(${test} PRIVATE ${lib} Qt6::Test)
        target_compile_definitions(${test} PRIVATE TELVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                                   TELVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
        add_test(NAME ${test} COMMAND ${test})
        set_tests_properties(${test} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                             TIMEOUT 120 LABELS "${name};gui")
    endforeach()
endfunction()
