# One fuzzing pass of the test run: RUNS runs of FUZZER from seed 1, from the
# seeds alone (CORPUS is emptied first and takes what the pass finds), so the
# pass is the same every time. Fails on a crash, a sanitizer report, a leak,
# a timeout or a memory-limit hit (libFuzzer's own exit code), and when the
# runs did not all happen. The fuzzer runs with address randomisation off
# (SETARCH, util-linux's setarch, when given): libFuzzer also mutates towards
# the values its target compares, addresses among them.
# Usage: cmake -DFUZZER=exe -DRUNS=n -DCORPUS=dir -DSEEDS=dir -DDICT=file -DARTIFACTS=prefix
#        [-DSETARCH=path] [-DARGS=more flags] -P short_pass.cmake
file(REMOVE_RECURSE ${CORPUS})
file(MAKE_DIRECTORY ${CORPUS})
# Inputs stay small, and the decoder plans no block larger than twice its
# input, so the memory limits only catch a broken bound.
set(fixed_addresses "")
if(SETARCH)
  set(fixed_addresses ${SETARCH} -R)
endif()
execute_process(
  COMMAND ${fixed_addresses} ${FUZZER} -runs=${RUNS} -seed=1 -max_len=65536 -rss_limit_mb=2048
          -malloc_limit_mb=512 -timeout=10 -dict=${DICT} -artifact_prefix=${ARTIFACTS}
          -reload=0 -print_final_stats=1 ${ARGS} ${CORPUS} ${SEEDS}
  OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
message("${log}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the fuzzer failed (exit code ${rc}); the input is kept as ${ARTIFACTS}*")
endif()
if(NOT log MATCHES "Done ${RUNS} runs in")
  message(FATAL_ERROR "the fuzzer did not make its ${RUNS} runs")
endif()
