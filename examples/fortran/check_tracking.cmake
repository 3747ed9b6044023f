# Runs the tracked Fortran example and checks what it prints and what the tracker
# wrote: cmake -DPROGRAM=... -DMEMTRACK=... -DDIR=... -P check_tracking.cmake
# Transaction numbers are checked relative to the first phase line: the library's own
# operations before it are not the example's business.
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
set(ENV{KOV_MEM_TRACK} "on")
set(ENV{KOV_MEM_OUTPUTDIR} "${DIR}")
execute_process(COMMAND "${PROGRAM}" WORKING_DIRECTORY "${DIR}"
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the example failed (${status}):\n${out}${err}")
endif()

set(expected_out [[started 6 modules
assembled 3 blocks of 4000 bytes
phase 1 [assemble]
phase 2 [solve]
stopped 0
]])
if(NOT out STREQUAL expected_out)
  message(FATAL_ERROR "standard output:\n${out}\nexpected:\n${expected_out}")
endif()

# Between entering and leaving "assemble": 3 blocks, the name list (its array and two
# names), their 3 frees and the 3 blocks' frees.
set(enter_line "ROOT->assemble  --  ENTER PHASE  --  Monitored TransID = ([0-9]+) --  threadId = 0\n")
set(exit_line "ROOT->assemble  --  EXIT PHASE  -- Monitored TransID = ([0-9]+) -- threadId = 0\n")
if(NOT err MATCHES "^${enter_line}${exit_line}$")
  message(FATAL_ERROR "standard error:\n${err}")
endif()
math(EXPR operations "${CMAKE_MATCH_2} - ${CMAKE_MATCH_1}")
if(NOT operations EQUAL 12)
  message(FATAL_ERROR "${operations} operations in the phase, not 12:\n${err}")
endif()

foreach(file unknownMemTrack.memT0 unknownMemTrack.phaseStack)
  if(NOT EXISTS "${DIR}/${file}")
    message(FATAL_ERROR "the tracker wrote no ${file}")
  endif()
endforeach()

# The phases' own operations as memtrack reads them from the files: operations,
# bytes allocated and freed (the list: 4 bytes a pointer, 80 a name).
execute_process(COMMAND "${MEMTRACK}" "${DIR}/unknownMemTrack"
  OUTPUT_VARIABLE report RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "memtrack failed (${status})")
endif()
if(NOT report MATCHES "\n    assemble +6 +12000 +12000 +12000 +[0-9]+ +12000\n      solve +6 +168 +168 +12168 +[0-9]+ +168\n")
  message(FATAL_ERROR "memtrack's phases:\n${report}")
endif()
