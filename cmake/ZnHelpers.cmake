# Helpers that give every library, test and program of the project the same shape.

set(ZN_WARNINGS -Wall -Wextra -Wpedantic)

function(zn_target_defaults target)
  target_compile_options(${target} PRIVATE ${ZN_WARNINGS})
  if(ZN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# zn_add_library(<name> SOURCES ... HEADERS ... DEPS ...)
# A static runtime library. Its public headers are installed under include/zn/<folder>/. The
# headers need C++20, so the library asks for it publicly: a consumer that sets no standard gets it.
function(zn_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;HEADERS;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  add_library(Zn::${name} ALIAS ${name})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/zn>)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  target_compile_features(${name} PUBLIC cxx_std_20)
  zn_target_defaults(${name})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  install(FILES ${ARG_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zn/${folder})
  set(headers "")
  foreach(header IN LISTS ARG_HEADERS)
    list(APPEND headers ${folder}/${header})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY ZN_RUNTIME_LIBRARIES ${name})
  set_property(GLOBAL PROPERTY ZN_HEADERS_${name} ${headers})
  set_property(GLOBAL PROPERTY ZN_DEPS_${name} ${ARG_DEPS})
endfunction()

# zn_add_test(<name> SOURCES ... DEPS ... [LABEL <label>])
# One GoogleTest binary, registered with CTest test by test under LABEL (default `unit`; the
# others are `crosscheck`, `e2e`, `fuzz`, `install` and `example`), so that `ctest -L unit` is
# the quick loop. It runs the kit's main (tests/support), which puts the checking heap under the
# runtime.
function(zn_add_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS" ${ARGN})
  if(NOT ZN_BUILD_TESTS)
    return()
  endif()
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} zn_test_support)
  zn_target_defaults(${name})
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS ${ARG_LABEL})
endfunction()

# zn_add_test_command(<name> LABEL <label> [TIMEOUT <seconds>] COMMAND ...)
# A test that runs a command rather than a GoogleTest binary (a script, a program on its input).
function(zn_add_test_command name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_test(NAME ${name} COMMAND ${ARG_COMMAND})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS ${ARG_LABEL})
endfunction()

# zn_write_pkg_config(<library>)
# zn-<name>.pc for builds that are not CMake: the library, C++20 and the include folder, with the
# libraries it needs as `Requires:`, so that `pkg-config --cflags --libs zn-core` gives all of it
# in link order. The prefix is taken from where the file lies, so an installed tree can move.
function(zn_write_pkg_config library)
  get_property(deps GLOBAL PROPERTY ZN_DEPS_${library})
  string(REPLACE "_" "-" package ${library})
  set(requires "")
  set(other_libs "")
  foreach(dep IN LISTS deps)
    if(dep MATCHES "^zn_")
      string(REPLACE "_" "-" dep_package ${dep})
      list(APPEND requires ${dep_package})
    elseif(dep STREQUAL "Threads::Threads")
      list(APPEND other_libs -pthread)
    else()
      message(FATAL_ERROR "${library}: no pkg-config form for the dependency ${dep}")
    endif()
  endforeach()
  list(JOIN requires ", " requires)
  list(JOIN other_libs " " other_libs)
  file(RELATIVE_PATH to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  file(WRITE ${PROJECT_BINARY_DIR}/pkgconfig/${package}.pc
"prefix=\${pcfiledir}/${to_prefix}
includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}/zn
libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}

Name: ${package}
Description: The ${library} library of the Zn runtime
Version: ${PROJECT_VERSION}
Requires: ${requires}
Cflags: -std=c++20 -I\${includedir}
Libs: -L\${libdir} -l${library} ${other_libs}
")
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${package}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

# The installed package: the libraries and their headers, the CMake package (with a version file:
# any release of the same major version will do) and one pkg-config file per library.
function(zn_install_package)
  include(CMakePackageConfigHelpers)
  get_property(libraries GLOBAL PROPERTY ZN_RUNTIME_LIBRARIES)
  install(TARGETS ${libraries} EXPORT ZnRuntimeTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(EXPORT ZnRuntimeTargets NAMESPACE Zn::
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZnRuntime)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZnRuntimeConfigVersion.cmake
                                   COMPATIBILITY SameMajorVersion)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZnRuntimeConfig.cmake.in
                                ${PROJECT_BINARY_DIR}/ZnRuntimeConfig.cmake
                                INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZnRuntime)
  install(FILES ${PROJECT_BINARY_DIR}/ZnRuntimeConfig.cmake
                ${PROJECT_BINARY_DIR}/ZnRuntimeConfigVersion.cmake
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZnRuntime)
  foreach(library IN LISTS libraries)
    zn_write_pkg_config(${library})
  endforeach()
endfunction()

# zn_add_testing_library(<name> SOURCES ... DEPS ...)
# A library's test seams (switches, call logs, resets), declared in its *_testing.h header. Tests
# and benchmarks link it; it is never installed, and no shipped program links it.
function(zn_add_testing_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC EXCLUDE_FROM_ALL ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  zn_target_defaults(${name})
endfunction()
