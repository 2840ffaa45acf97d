# SPDX-License-Identifier: MIT
# One short, repeatable fuzzing run: starts from a fresh copy of the seed corpus
# in the build tree, so the source tree is never written, and fails on any crash
# or broken property. Crash files go to the artifacts folder.
foreach(var fuzzer seeds work artifacts runs seconds)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "short_run.cmake: -D ${var}=... missing")
  endif()
endforeach()

file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work} ${artifacts})
file(COPY ${seeds}/ DESTINATION ${work})

execute_process(
  COMMAND ${fuzzer} -seed=1 -runs=${runs} -max_total_time=${seconds}
          -artifact_prefix=${artifacts}/ -print_final_stats=1 ${work}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${fuzzer} failed (${result}); the failing input is in ${artifacts}")
endif()
