# Host build: the engine and the dialogs over the simulated machine, the
# host program and the unit tests.
find_package(GTest REQUIRED)
enable_testing()
include(GoogleTest)

# The simulated machine keeps one folder per layer (src/platform/sim/*/);
# host/ holds the host program.
file(GLOB BR_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/sim/*/*.cpp)
list(FILTER BR_SIM_SOURCES EXCLUDE REGEX "/src/platform/sim/host/")

set(BR_PROGRAM_SOURCES ${BR_ENGINE_SOURCES} ${BR_UI_SOURCES} ${BR_PLATFORM_SOURCES} ${BR_SIM_SOURCES})
# What the fuzz targets drive: the engine, the run-time library and the
# simulated profile, registry and text helpers. With BR_FUZZ these are
# compiled twice (the second time with libFuzzer's hooks, below) and the
# rest of the program once, shared by both copies.
file(GLOB BR_FUZZED_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/src/platform/sim/profile/*.cpp
     ${CMAKE_SOURCE_DIR}/src/platform/sim/registry/*.cpp
     ${CMAKE_SOURCE_DIR}/src/platform/sim/core/text.cpp)
list(APPEND BR_FUZZED_SOURCES ${BR_ENGINE_SOURCES} ${BR_PLATFORM_SOURCES})
set(BR_UNFUZZED_SOURCES ${BR_PROGRAM_SOURCES})
list(REMOVE_ITEM BR_UNFUZZED_SOURCES ${BR_FUZZED_SOURCES})
if(BR_FUZZ)
  add_library(br_program_unfuzzed OBJECT ${BR_UNFUZZED_SOURCES})
  target_include_directories(br_program_unfuzzed PUBLIC ${BR_INCLUDES})
  add_library(br_program STATIC ${BR_FUZZED_SOURCES} $<TARGET_OBJECTS:br_program_unfuzzed>)
else()
  add_library(br_program STATIC ${BR_PROGRAM_SOURCES})
endif()
target_include_directories(br_program PUBLIC ${BR_INCLUDES})

file(GLOB BR_HOST_MAIN CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/sim/host/*.cpp)
if(BR_HOST_MAIN)
  add_executable(br32unin-sim ${BR_HOST_MAIN})
  target_link_libraries(br32unin-sim PRIVATE br_program)
  # --exe runs BR32UNIN.EXE itself in the Unicorn CPU emulator (Debian:
  # libunicorn-dev); without it the rest of the program is the same.
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(UNICORN QUIET IMPORTED_TARGET unicorn)
  endif()
  if(UNICORN_FOUND)
    target_link_libraries(br32unin-sim PRIVATE PkgConfig::UNICORN)
    target_compile_definitions(br32unin-sim PRIVATE BR_HAVE_UNICORN)
  else()
    message(STATUS "Unicorn not found: br32unin-sim --exe is not available (libunicorn-dev)")
  endif()
  # Where the sample machines are, for a run without a machine folder.
  target_compile_definitions(br32unin-sim PRIVATE BR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()

file(GLOB BR_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
if(BR_TEST_SOURCES)
  add_executable(unit_tests ${BR_TEST_SOURCES})
  target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
  target_link_libraries(unit_tests PRIVATE br_program GTest::gtest GTest::gtest_main)
  target_compile_definitions(unit_tests PRIVATE BR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  # googletest and the containers parsed once, not once per file: a quarter
  # of the tests' build.
  target_precompile_headers(unit_tests PRIVATE <gtest/gtest.h> <string> <vector> <map> <functional>)
  gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
  # The long sweeps get their cost, so that they start first.
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_SOURCE_DIR}/cmake/unit_test_costs.cmake)
endif()

# The generated resources held against what they are made from, the simulated
# machine's layering, and the built Windows program read back from its file
# (the win32 preset builds it; skipped while it is absent).
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  add_test(NAME generated_dialog_templates
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/res/make_dialogs.py --check)
  add_test(NAME generated_icon
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/res/make_icon.py --check)
  add_test(NAME sim_layers
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/sim_layers.py)
  add_test(NAME pe_check_exe
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/pe/check_exe.py
                   ${CMAKE_SOURCE_DIR}/build/win32/BR32UNIN.EXE)
  set_tests_properties(pe_check_exe PROPERTIES SKIP_RETURN_CODE 77)
endif()

# Benchmarks (Google Benchmark): a separate program, not a test; see
# docs/benchmarks.md.
find_package(benchmark QUIET)
file(GLOB BR_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
if(benchmark_FOUND AND BR_BENCH_SOURCES)
  add_executable(br_bench ${BR_BENCH_SOURCES})
  target_include_directories(br_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
  target_link_libraries(br_bench PRIVATE br_program benchmark::benchmark)
  target_compile_definitions(br_bench PRIVATE BR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  # Its figures come from the host preset; the sanitizer build (./test) only
  # keeps it compiling, and spends no optimiser on it.
  target_compile_options(br_bench PRIVATE $<$<CONFIG:San>:-O0>)
endif()

# Fuzz targets (fuzz/fuzz_*.cpp). With BR_FUZZ (the san preset, clang) they
# are libFuzzer programs, and ctest replays each one's seeds and every input
# that once made it fail (fuzz_corpus.*), then fuzzes it for BR_FUZZ_SECONDS
# from those seeds (fuzz_run.*; 0: not at all; fuzz/run for a longer run).
# In every other host build each is linked with a replay of its corpus
# folder instead, so that the seeds run under ctest there too.
# fuzz_word_reader brings its own file layer in memory and takes only
# crt.cpp of the program; the others make their machine with the unit
# tests' MachineBuilder.
file(GLOB BR_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp)
set(BR_FUZZ_SECONDS 15 CACHE STRING "Seconds of fuzzing per target under ctest (BR_FUZZ builds)")
if(BR_FUZZ)
  add_custom_target(fuzzers)
  # The fuzz targets' own copy of the program, its fuzzed part with
  # libFuzzer's coverage counters and comparison hooks; the unit tests and
  # br32unin-sim run the plain one, which those make a third slower.
  add_library(br_program_fuzz STATIC ${BR_FUZZED_SOURCES} $<TARGET_OBJECTS:br_program_unfuzzed>)
  target_include_directories(br_program_fuzz PUBLIC ${BR_INCLUDES})
  target_compile_options(br_program_fuzz PRIVATE -fsanitize=fuzzer-no-link)
  set(BR_FUZZ_PROGRAM br_program_fuzz)
else()
  set(BR_FUZZ_PROGRAM br_program)
endif()
foreach(source ${BR_FUZZ_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  if(name STREQUAL "fuzz_word_reader")
    add_executable(${name} ${source} ${CMAKE_SOURCE_DIR}/src/platform/crt.cpp)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src/platform ${CMAKE_SOURCE_DIR}/fuzz)
  else()
    add_executable(${name} ${source})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz ${CMAKE_SOURCE_DIR}/tests/unit)
    target_link_libraries(${name} PRIVATE ${BR_FUZZ_PROGRAM})
    target_compile_definitions(${name} PRIVATE BR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  endif()
  set(seeds ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
  if(BR_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzzers ${name})
    add_test(NAME fuzz_corpus.${name} COMMAND ${name} -runs=0 ${seeds})
    if(BR_FUZZ_SECONDS GREATER 0)
      # New inputs go to the build folder, never into the repository.
      file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz/corpus/${name} ${CMAKE_BINARY_DIR}/fuzz/artifacts)
      add_test(NAME fuzz_run.${name}
               COMMAND ${name} ${CMAKE_BINARY_DIR}/fuzz/corpus/${name} ${seeds}
                       -max_total_time=${BR_FUZZ_SECONDS} -print_final_stats=1
                       -artifact_prefix=${CMAKE_BINARY_DIR}/fuzz/artifacts/${name}-)
      set_tests_properties(fuzz_run.${name} PROPERTIES COST ${BR_FUZZ_SECONDS})
    endif()
  else()
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
    add_test(NAME fuzz_corpus.${name} COMMAND ${name} ${seeds})
  endif()
endforeach()

# One program, two builds: the shipped BR32UNIN.EXE run by br32unin-sim --exe
# against the host build, on the samples and the Wine comparison's seeds.
if(TARGET br32unin-sim AND Python3_FOUND)
  add_test(NAME exe_two_builds
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/exe/two_builds.py
                   --sim $<TARGET_FILE:br32unin-sim> --exe ${CMAKE_SOURCE_DIR}/build/win32/BR32UNIN.EXE)
  set_tests_properties(exe_two_builds PROPERTIES SKIP_RETURN_CODE 77 COST 20)
endif()

# ./run and br32unin-sim as a user meets them: interrupts, the summary,
# arguments, the samples (tests/run_cases.py).
if(TARGET br32unin-sim AND Python3_FOUND)
  add_test(NAME runner_cases
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/run_cases.py --sim $<TARGET_FILE:br32unin-sim>)
  set_tests_properties(runner_cases PROPERTIES COST 20)
endif()

# BR32UNIN.EXE end to end under Wine, one test per Windows version mode, each
# end state against the simulated machine's (tests/wine). The win32 preset must
# have built the program and its helper, and the win64 preset the same for
# machines where 32-bit Wine cannot run: each test picks one, and says which
# on its first line. They run beside each other and beside any other test:
# each works in a folder of its own (wine/MODE), with its own Xvfb display and
# Wine sessions; the clean prefixes and the answer which Wine, in wine/, are
# made once and shared under a lock.
if(TARGET br32unin-sim)
  foreach(mode win98 win95 winxp)
    add_test(NAME wine_${mode}
             COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run_suite.sh
                     --sim $<TARGET_FILE:br32unin-sim> ${mode})
    set_tests_properties(wine_${mode} PROPERTIES
      ENVIRONMENT "WINE_SUITE_WORK=${CMAKE_BINARY_DIR}/wine/${mode};WINE_SUITE_BASE=${CMAKE_BINARY_DIR}/wine"
      SKIP_RETURN_CODE 77 TIMEOUT 1500)
  endforeach()
  # Two lanes, each one Wine test at a time: Wine mostly waits, so two run
  # beside the tests that compute, but its start-up computes too. They
  # start before every other test, the longest of each lane first (COST),
  # and wait there for Wine's packages while ./test installs them (their
  # time limits leave ten minutes for that).
  set_tests_properties(wine_win98 PROPERTIES RESOURCE_LOCK wine_lane_a COST 1060)
  set_tests_properties(wine_win95 PROPERTIES RESOURCE_LOCK wine_lane_a COST 1020)
  set_tests_properties(wine_winxp PROPERTIES RESOURCE_LOCK wine_lane_b COST 1020)

  # The same on generated machines: the seeds of tests/wine/differential_seeds.txt,
  # every seed that once disagreed among them.
  add_test(NAME wine_differential
           COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/differential.py
                   --seeds ${CMAKE_SOURCE_DIR}/tests/wine/differential_seeds.txt
                   --sim $<TARGET_FILE:br32unin-sim>)
  set_tests_properties(wine_differential PROPERTIES
    ENVIRONMENT "WINE_SUITE_WORK=${CMAKE_BINARY_DIR}/wine/differential;WINE_SUITE_BASE=${CMAKE_BINARY_DIR}/wine"
    SKIP_RETURN_CODE 77 TIMEOUT 1200 RESOURCE_LOCK wine_lane_b COST 1050)

  # The scenarios' machines and those seeds through br32unin-sim alone, no
  # Wine: each finished run against what the generator marked it must leave.
  add_test(NAME differential_sim_only
           COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/differential.py --sim-only
                   --seeds ${CMAKE_SOURCE_DIR}/tests/wine/differential_seeds.txt
                   --sim $<TARGET_FILE:br32unin-sim>)
endif()
