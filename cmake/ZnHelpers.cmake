# Helpers that give every library, test and program of the project the same shape.

set(ZN_WARNINGS -Wall -Wextra -Wpedantic)

function(zn_target_defaults target)
  target_compile_options(${target} PRIVATE ${ZN_WARNINGS})
  if(ZN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# zn_add_library(<name> SOURCES ... HEADERS ... DEPS ...)
# A static runtime library. Its public headers are installed under include/zn/<folder>/.
function(zn_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;HEADERS;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  add_library(Zn::${name} ALIAS ${name})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/zn>)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  zn_target_defaults(${name})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  install(FILES ${ARG_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zn/${folder})
  set_property(GLOBAL APPEND PROPERTY ZN_RUNTIME_LIBRARIES ${name})
endfunction()

# zn_add_test(<name> SOURCES ... DEPS ...)
# One GoogleTest binary, registered with CTest test by test. It runs the kit's main
# (tests/support), which puts the checking heap under the runtime.
function(zn_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ZN_BUILD_TESTS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} zn_test_support)
  zn_target_defaults(${name})
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

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
endfunction()
