# Installs the build into a scratch prefix and moves the installed tree, then
# against the moved tree: builds and runs the consumer project (find_package),
# builds and runs the C consumer and the README's C example (pkg-config), and
# runs the installed pcs. Run with -DBUILD_DIR, -DSOURCE_DIR, -DWORK_DIR,
# -DC_COMPILER, -DCXX_COMPILER, -DFLAGS, -DGENERATOR, -DLIBDIR, -DVERSION.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/readme)
function(run)
  cmake_parse_arguments(RUN "" "DIR;OUT" "" ${ARGN})
  if(NOT RUN_DIR)
    set(RUN_DIR ${WORK_DIR})
  endif()
  execute_process(COMMAND ${RUN_UNPARSED_ARGUMENTS} WORKING_DIRECTORY ${RUN_DIR}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${RUN_UNPARSED_ARGUMENTS}\nfailed (${rc}):\n${out}${err}")
  endif()
  if(RUN_OUT)
    set(${RUN_OUT} "${out}" PARENT_SCOPE)
  endif()
endfunction()
function(expect_output what out pattern)
  if(NOT out MATCHES "${pattern}")
    message(FATAL_ERROR "${what} printed \"${out}\", expected ${pattern}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/staging)
file(RENAME ${WORK_DIR}/staging ${WORK_DIR}/prefix)
set(prefix ${WORK_DIR}/prefix)
separate_arguments(flags UNIX_COMMAND "${FLAGS}")

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${C_COMPILER}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} "-DCMAKE_C_FLAGS=${FLAGS}" "-DCMAKE_CXX_FLAGS=${FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer OUT out)
expect_output(consumer "${out}" "installed package ok")

# The README's first C block, exactly as shown.
file(READ ${SOURCE_DIR}/README.md readme)
if(NOT readme MATCHES "```c\n(.*int main.*)\n```")
  message(FATAL_ERROR "README.md shows no complete C program")
endif()
string(REGEX REPLACE "\n```.*" "\n" example "${CMAKE_MATCH_1}")
file(WRITE ${WORK_DIR}/readme/example.c "${example}")
file(COPY ${SOURCE_DIR}/tests/package/consumer.c DESTINATION ${WORK_DIR}/readme)

set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
run(pkg-config --cflags pcs pcshost OUT cflags)
run(pkg-config --libs pcs pcshost OUT libs)
separate_arguments(cflags UNIX_COMMAND "${cflags}")
separate_arguments(libs UNIX_COMMAND "${libs}")
foreach(program example consumer)
  set(dir ${WORK_DIR}/readme)
  run(${C_COMPILER} ${flags} ${cflags} -c ${program}.c -o ${program}.o DIR ${dir})
  # Linked by the C++ driver: a sanitized library needs the C++ runtime parts.
  run(${CXX_COMPILER} ${flags} ${program}.o ${libs} -Wl,-rpath,${prefix}/${LIBDIR} -o ${program}
      DIR ${dir})
  run(${dir}/${program} DIR ${dir} OUT out)
  set(output_example "OD 60.3: 1 value of 8 bytes")
  set(output_consumer "installed package ok")
  expect_output("${program} (pkg-config)" "${out}" "${output_${program}}")
endforeach()

run(${prefix}/bin/pcs --version OUT out)
expect_output("pcs --version" "${out}" "^pcs ${VERSION} \\(library build [0-9.]+\\)\n$")
message(STATUS "installed package ok")
