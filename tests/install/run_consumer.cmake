# Script of the install_package test: install into an empty prefix; check that no test seam is
# installed or linked into the shipped rps; build and run the consumers and the examples on the
# face, once through find_package and once through pkg-config alone.

function(zn_run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output INPUT_FILE /dev/null)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${output}")
  endif()
  set(zn_output "${output}" PARENT_SCOPE)
endfunction()

# A program's name and what it must print.
function(zn_expect program expected)
  zn_run("running ${program}" ${program})
  if(NOT zn_output STREQUAL expected)
    message(FATAL_ERROR "${program} printed '${zn_output}', not '${expected}'")
  endif()
endfunction()

# The three examples on the face, built in `folder`, each run on its own input: words counted, the
# inventory's report, a picture reduced to black and white (an indexed file of 1 bit per pixel).
function(zn_expect_face_examples folder)
  file(WRITE ${WORK_DIR}/words.txt "to be or not to be\n")
  zn_expect("${folder}/wordfreq;${WORK_DIR}/words.txt" "2 be\n2 to\n1 not\n1 or\n")
  file(READ ${EXAMPLES_DIR}/tests/inventory.expected inventory_expected)
  zn_expect(${folder}/inventory "${inventory_expected}")
  set(reduced ${WORK_DIR}/reduced.bmp)
  file(REMOVE ${reduced})
  zn_expect("${folder}/quantize;-c;2;${SOURCE_DIR}/fuzz/images/corpus/w3_24bit.bmp;${reduced}" "")
  file(READ ${reduced} bits_per_pixel OFFSET 28 LIMIT 1 HEX)
  if(NOT bits_per_pixel STREQUAL "01")
    message(FATAL_ERROR "${folder}/quantize wrote '${bits_per_pixel}' bits per pixel, not 01")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
zn_run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# Test seams (switches, call logs, reset hooks: `<Library>Test<Verb>`) live in *_testing.h headers,
# which are never installed, and never in a shipped program.
set(seam_pattern "[A-Z][a-z]+Test[A-Z][A-Za-z]*")
file(GLOB_RECURSE installed_headers ${prefix}/include/*.h)
file(GLOB_RECURSE testing_headers ${prefix}/include/*_testing.h)
if(testing_headers)
  message(FATAL_ERROR "test seam headers are installed: ${testing_headers}")
endif()
foreach(header IN LISTS installed_headers)
  file(STRINGS ${header} seams REGEX "${seam_pattern}")
  if(seams)
    message(FATAL_ERROR "${header} declares test seams:\n${seams}")
  endif()
endforeach()
zn_run("nm of ${SHIPPED_RPS}" ${NM} -C ${SHIPPED_RPS})
string(REGEX MATCHALL "zn::${seam_pattern}" seams "${zn_output}")
# Every operation the source tree's *_testing.h headers declare, whatever its name.
file(GLOB_RECURSE testing_sources ${SOURCE_DIR}/runtime/*_testing.h
     ${SOURCE_DIR}/platform/*_testing.h ${SOURCE_DIR}/system/*_testing.h)
foreach(testing_header IN LISTS testing_sources)
  file(STRINGS ${testing_header} declarations REGEX "^[A-Za-z].*[ *&]([A-Z][A-Za-z0-9]*)\\(")
  foreach(declaration IN LISTS declarations)
    if(declaration MATCHES "[ *&]([A-Z][A-Za-z0-9]*)\\(")
      set(name ${CMAKE_MATCH_1})
      if(zn_output MATCHES "::${name}\\(")
        list(APPEND seams ${name})
      endif()
    endif()
  endforeach()
endforeach()
if(seams)
  list(REMOVE_DUPLICATES seams)
  message(FATAL_ERROR "the shipped rps holds test seams: ${seams}")
endif()

# Through find_package, with no C++ standard set by the consumer.
set(build ${WORK_DIR}/build)
zn_run("configuring the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build} -G ${GENERATOR}
       -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
       "-DCMAKE_EXE_LINKER_FLAGS=${CXX_FLAGS}" "-DZN_EXPORTED=${EXPORTED}")
zn_run("building the consumer" ${CMAKE_COMMAND} --build ${build})
zn_expect(${build}/consumer "Current score: Player 10 vs. CPU 9\n")
zn_expect(${build}/structures_consumer "5 elements, last 16\n")
zn_expect(${build}/entry_consumer "started\n")
zn_expect(${build}/face_consumer "   42|ab  |2.50 4\n")
file(READ ${build}/alone_programs.txt alone_programs)
foreach(program IN LISTS alone_programs)
  zn_expect(${build}/${program} "")
endforeach()

# The examples, built as a user's copy of them would be: their folder as a project of its own.
set(examples ${WORK_DIR}/examples)
zn_run("configuring the examples" ${CMAKE_COMMAND} -S ${EXAMPLES_DIR} -B ${examples} -G ${GENERATOR}
       -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
       "-DCMAKE_EXE_LINKER_FLAGS=${CXX_FLAGS}")
zn_run("building the examples" ${CMAKE_COMMAND} --build ${examples})
file(READ ${EXAMPLES_DIR}/tests/events.expected events_expected)
zn_expect(${examples}/events "${events_expected}")
zn_expect_face_examples(${examples})

# Through pkg-config alone: its flags, and those this build's libraries were compiled with.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
separate_arguments(build_flags UNIX_COMMAND "${CXX_FLAGS}")
foreach(program_package consumer=zn-strings structures_consumer=zn-structures
                        entry_consumer=zn-entry face_consumer=zn-face)
  string(REPLACE "=" ";" program_package ${program_package})
  list(GET program_package 0 program)
  list(GET program_package 1 package)
  zn_run("pkg-config ${package}" pkg-config --cflags --libs ${package})
  separate_arguments(package_flags UNIX_COMMAND "${zn_output}")
  zn_run("compiling ${program} with pkg-config" ${CXX} ${build_flags}
         ${CONSUMER_DIR}/${program}.cpp ${package_flags} -o ${WORK_DIR}/pkg_${program})
endforeach()
zn_expect(${WORK_DIR}/pkg_consumer "Current score: Player 10 vs. CPU 9\n")
zn_expect(${WORK_DIR}/pkg_structures_consumer "5 elements, last 16\n")
zn_expect(${WORK_DIR}/pkg_entry_consumer "started\n")
zn_expect(${WORK_DIR}/pkg_face_consumer "   42|ab  |2.50 4\n")
# The face's examples, built with zn-face's flags alone.
zn_run("pkg-config zn-face" pkg-config --cflags --libs zn-face)
separate_arguments(face_flags UNIX_COMMAND "${zn_output}")
file(MAKE_DIRECTORY ${WORK_DIR}/pkg_examples)
foreach(example wordfreq quantize inventory)
  zn_run("compiling ${example} with pkg-config" ${CXX} ${build_flags}
         ${EXAMPLES_DIR}/${example}.cpp ${face_flags} -o ${WORK_DIR}/pkg_examples/${example})
endforeach()
zn_expect_face_examples(${WORK_DIR}/pkg_examples)
