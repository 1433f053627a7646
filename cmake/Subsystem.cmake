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
