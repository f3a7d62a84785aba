# Native build of the stream decoding under AddressSanitizer and
# UndefinedBehaviorSanitizer: its unit tests and a libFuzzer target that the
# test run drives for a bounded time from a generated seed corpus.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The native build needs clang for libFuzzer (use the native preset).")
endif()

set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_compile_options(pv_lzma_stream PRIVATE -Wshadow -Wconversion -Wno-sign-conversion)
foreach(library pv_lzma_sdk pv_lzma_stream)
    target_compile_options(${library} PRIVATE ${sanitizers} -fsanitize=fuzzer-no-link)
endforeach()

if(BUILD_TESTING)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    include(GoogleTest)

    add_executable(payload_stream_tests tests/lzma_stream_test.cpp tests/test_data_native.cpp)
    target_compile_definitions(payload_stream_tests PRIVATE
        PV_TEST_DATA_DIR="${PV_PAYLOAD_TEST_DATA}")
    target_compile_options(payload_stream_tests PRIVATE ${sanitizers})
    target_link_options(payload_stream_tests PRIVATE ${sanitizers})
    target_link_libraries(payload_stream_tests PRIVATE pv_lzma_stream gtest_main)
    add_dependencies(payload_stream_tests pv_payload_test_data)
    gtest_discover_tests(payload_stream_tests)
endif()

add_executable(lzma_stream_fuzzer fuzz/lzma_stream_fuzzer.cpp)
target_compile_options(lzma_stream_fuzzer PRIVATE ${sanitizers} -fsanitize=fuzzer)
target_link_options(lzma_stream_fuzzer PRIVATE ${sanitizers} -fsanitize=fuzzer)
target_link_libraries(lzma_stream_fuzzer PRIVATE pv_lzma_stream)

# Seeds: valid streams of both kinds, truncated data, properties bytes of 225
# and more, an unknown size without end marker, a known size beyond the data.
add_executable(make_seed_corpus fuzz/make_seed_corpus.cpp)
set(seed_dir ${CMAKE_CURRENT_BINARY_DIR}/fuzz-seeds)
add_custom_command(OUTPUT ${seed_dir}/.made
    COMMAND ${CMAKE_COMMAND} -E make_directory ${seed_dir}
    COMMAND make_seed_corpus ${PV_PAYLOAD_TEST_DATA} ${seed_dir}
    COMMAND ${CMAKE_COMMAND} -E touch ${seed_dir}/.made
    DEPENDS make_seed_corpus ${test_data_files}
    VERBATIM)
add_custom_target(pv_fuzz_seeds ALL DEPENDS ${seed_dir}/.made)

if(BUILD_TESTING)
    # The fuzzer adds what it finds to a corpus of its own, so the seeds stay
    # as generated.
    set(fuzz_dir ${CMAKE_CURRENT_BINARY_DIR}/fuzz-run)
    file(MAKE_DIRECTORY ${fuzz_dir}/corpus ${fuzz_dir}/artifacts)
    add_test(NAME payload_stream_fuzz
        COMMAND lzma_stream_fuzzer -max_total_time=60 -timeout=10 -rss_limit_mb=2048
                -print_final_stats=1
                -artifact_prefix=${fuzz_dir}/artifacts/ ${fuzz_dir}/corpus ${seed_dir})
    set_tests_properties(payload_stream_fuzz PROPERTIES TIMEOUT 180)
endif()
