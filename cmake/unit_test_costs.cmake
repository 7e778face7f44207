# Read by ctest after the discovered unit tests (unit_tests_TESTS): the long
# sweeps, with about their seconds under the sanitizers as their cost, so
# that on a fresh build, with no timings kept yet, they start first.
foreach(test ${unit_tests_TESTS})
  if(test MATCHES "^ProfileEntries\\.GeneratedPrinterSets")
    set_tests_properties(${test} PROPERTIES COST 70)
  elseif(test MATCHES "^(FaultSweep|CrashSequences)\\.")
    set_tests_properties(${test} PROPERTIES COST 60)
  elseif(test MATCHES "^HostileMachines\\.")
    set_tests_properties(${test} PROPERTIES COST 10)
  endif()
endforeach()
