# cmake -DLZMA_ALONE=... -DOUTPUT_DIR=... -P make_test_data.cmake
# Sample inputs for the decoder tests and the fuzzer's seeds: a text of about
# 200 KB (several 64 KiB passes, not a multiple of one) mixing repeated and
# random lines, and a 3,000-byte head of it, each packed with a known size (the
# payload's form) and with an unknown size and an end marker.
file(MAKE_DIRECTORY ${OUTPUT_DIR})

set(base_lines)
foreach(seed RANGE 1 64)
    math(EXPR length "24 + (${seed} * 13) % 57")
    string(RANDOM LENGTH ${length} ALPHABET "abcdefghijklmnopqrstuvwxyz     ,.0123456789"
           RANDOM_SEED ${seed} line)
    list(APPEND base_lines "${line}")
endforeach()

set(sample "")
foreach(index RANGE 1 2900)
    math(EXPR pick "(${index} * 37 + ${index} / 7) % 64")
    list(GET base_lines ${pick} line)
    string(RANDOM LENGTH 8 ALPHABET "0123456789ABCDEF" RANDOM_SEED ${index} noise)
    string(APPEND sample "${index}: ${line} ${noise}\n")
endforeach()
file(WRITE ${OUTPUT_DIR}/sample.bin "${sample}")
string(SUBSTRING "${sample}" 0 3000 small)
file(WRITE ${OUTPUT_DIR}/small.bin "${small}")

foreach(name sample small)
    execute_process(
        COMMAND ${LZMA_ALONE} e ${OUTPUT_DIR}/${name}.bin ${OUTPUT_DIR}/${name}.lzma
                -d24 -lc3 -lp0 -pb2
        COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET ERROR_QUIET)
    execute_process(
        COMMAND ${LZMA_ALONE} e ${OUTPUT_DIR}/${name}.bin ${OUTPUT_DIR}/${name}-eos.lzma
                -d20 -eos
        COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET ERROR_QUIET)
endforeach()
