# Runs the selection example of docs/ on the project and generic part file
# that `pcs demo` makes, and checks what it prints. Run with -DTOOL and
# -DEXAMPLE. The demo's keyed files take paths of at most 53 characters: it
# works in a short folder under /tmp, removed at the end.
string(RANDOM LENGTH 8 suffix)
set(WORK_DIR /tmp/pcs-selection-${suffix})
execute_process(COMMAND ${TOOL} demo --dir ${WORK_DIR} RESULT_VARIABLE rc OUTPUT_QUIET
                ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  file(REMOVE_RECURSE ${WORK_DIR})
  message(FATAL_ERROR "pcs demo failed (${rc}): ${err}")
endif()
set(ENV{PCS_PROJECT} ${WORK_DIR}/project.db)
execute_process(COMMAND ${EXAMPLE} SPECPART WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  file(REMOVE_RECURSE ${WORK_DIR})
  message(FATAL_ERROR "the example failed (${rc}):\n${out}${err}")
endif()
set(expected
    "ELBOW size 2: 0 of 4 candidate\\(s\\) found:\n"
    "ELBOW size 3: 2 of 4 candidate\\(s\\) found: ELL-3-40 ELL-3-STD\n"
    "ELBOW size 4: 0 of 4 candidate\\(s\\) found:\n"
    "  ELL-4-80 rejected \\(1 value\\(s\\) not satisfied\\):\n"
    "    ENDSPEC.SCH #1: query \"40\" \\(generic\\), catalog \"80\"; T\\[1\\]\\[present\\]\\[present\\] = compare\n")
foreach(line IN LISTS expected)
  if(NOT out MATCHES "${line}")
    file(REMOVE_RECURSE ${WORK_DIR})
    message(FATAL_ERROR "the example printed:\n${out}\nwithout the line ${line}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "selection example ok")
