# The rps that ships, for the tests that run the program: the release preset, configured and built
# in a folder of this build tree, so that the end-to-end tests, the valgrind session and the symbol
# check see the same static, optimised binary that `make play` starts, not a sanitized test build.
#
# Sets ZN_SHIPPED_RPS (the program's path), ZN_SHIPPED_RPS_DYNAMIC (the same objects linked
# against the shared C library, which valgrind needs), ZN_SHIPPED_GUARD_PROGRAM (the guard's test
# program, for its valgrind session) and the target zn_shipped_rps, which every
# test build builds. The sub-build runs each time (BUILD_ALWAYS): its own Ninja decides what is out of date.
include(ExternalProject)

set(ZN_SHIPPED_DIR ${PROJECT_BINARY_DIR}/shipped)
set(ZN_SHIPPED_RPS ${ZN_SHIPPED_DIR}/game/rps)
set(ZN_SHIPPED_RPS_DYNAMIC ${ZN_SHIPPED_DIR}/game/rps_dynamic)
set(ZN_SHIPPED_GUARD_PROGRAM ${ZN_SHIPPED_DIR}/runtime/core/guard_test_program)
# The examples on the C++ face, optimised and unsanitized like the game, for their valgrind runs.
set(ZN_SHIPPED_INVENTORY ${ZN_SHIPPED_DIR}/examples/inventory)
set(ZN_SHIPPED_WORDFREQ ${ZN_SHIPPED_DIR}/examples/wordfreq)
set(ZN_SHIPPED_QUANTIZE ${ZN_SHIPPED_DIR}/examples/quantize)

# The compiler launcher (ccache) reaches the sub-build through the environment when it was given
# there; a launcher given as a cache variable is handed on.
set(zn_shipped_options "")
foreach(zn_launcher CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER)
  if(${zn_launcher})
    list(APPEND zn_shipped_options -D${zn_launcher}=${${zn_launcher}})
  endif()
endforeach()

cmake_host_system_information(RESULT zn_cores QUERY NUMBER_OF_LOGICAL_CORES)
ExternalProject_Add(zn_shipped_rps
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ZN_SHIPPED_DIR}
  CONFIGURE_COMMAND ${CMAKE_COMMAND} -S <SOURCE_DIR> -B <BINARY_DIR> --preset release
                    ${zn_shipped_options}
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR>
                --target rps rps_dynamic guard_test_program inventory wordfreq quantize -j ${zn_cores}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${ZN_SHIPPED_RPS} ${ZN_SHIPPED_RPS_DYNAMIC} ${ZN_SHIPPED_GUARD_PROGRAM}
                   ${ZN_SHIPPED_INVENTORY} ${ZN_SHIPPED_WORDFREQ} ${ZN_SHIPPED_QUANTIZE}
  USES_TERMINAL_CONFIGURE ON
  USES_TERMINAL_BUILD ON)
