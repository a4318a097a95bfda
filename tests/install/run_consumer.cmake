# Script of the install_find_package test: install, configure the consumer, build it, run it.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
                        -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
                        "-DCMAKE_EXE_LINKER_FLAGS=${CXX_FLAGS}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configuring the consumer failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "building the consumer failed: ${result}")
endif()
execute_process(COMMAND ${WORK_DIR}/build/consumer RESULT_VARIABLE result
                OUTPUT_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "Current score: Player 10 vs. CPU 9\n")
  message(FATAL_ERROR "the consumer printed '${output}' and ended with ${result}")
endif()
execute_process(COMMAND ${WORK_DIR}/build/structures_consumer RESULT_VARIABLE result
                OUTPUT_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "5 elements, last 16\n")
  message(FATAL_ERROR "the structures consumer printed '${output}' and ended with ${result}")
endif()
