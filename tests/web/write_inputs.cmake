# Writes the inputs of the web tests with the native tree's programs: the
# samples, the fuzz seeds, and web_reference's fixtures and native answers.
# cmake -DNATIVE=TREE -DOUT=DIR -P write_inputs.cmake
foreach(program tools/make_samples/make_samples fuzz/make_fuzz_seeds tests/web/web_reference)
  if(NOT EXISTS ${NATIVE}/${program})
    message(FATAL_ERROR "${NATIVE}/${program} is missing: build the native tree first "
                        "(scripts/setup.sh), or set MRVLN_NATIVE_TREE")
  endif()
endforeach()
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT}/samples ${OUT}/seeds)
execute_process(COMMAND ${NATIVE}/tools/make_samples/make_samples ${OUT}/samples
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${NATIVE}/fuzz/make_fuzz_seeds ${OUT}/seeds OUTPUT_QUIET
                COMMAND_ERROR_IS_FATAL ANY)
file(GLOB files ${OUT}/samples/* ${OUT}/seeds/*)
list(SORT files)
execute_process(COMMAND ${NATIVE}/tests/web/web_reference ${OUT} ${files}
                COMMAND_ERROR_IS_FATAL ANY)
