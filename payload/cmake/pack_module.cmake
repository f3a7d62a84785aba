# cmake -DLZMA_ALONE=... -DINPUT=file -DOUTPUT=file.lzma -P pack_module.cmake
# Packs one payload module and checks the container header the setup relies on:
# properties byte 0x5D (lc 3, lp 0, pb 2), dictionary 2^24, the true unpacked size.
get_filename_component(output_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})
execute_process(
    COMMAND ${LZMA_ALONE} e ${INPUT} ${OUTPUT}.part -d24 -lc3 -lp0 -pb2
    RESULT_VARIABLE result OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT result EQUAL 0)
    file(REMOVE ${OUTPUT}.part)
    message(FATAL_ERROR "lzma_alone failed on ${INPUT}:\n${log}")
endif()

file(SIZE ${INPUT} unpacked_size)
set(expected "5d00000001")
foreach(shift RANGE 0 56 8)
    math(EXPR byte "(${unpacked_size} >> ${shift}) & 255" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${byte}" 2 -1 digits)
    string(LENGTH "${digits}" length)
    if(length EQUAL 1)
        set(digits "0${digits}")
    endif()
    string(APPEND expected "${digits}")
endforeach()
file(READ ${OUTPUT}.part header LIMIT 13 HEX)
if(NOT header STREQUAL expected)
    file(REMOVE ${OUTPUT}.part)
    message(FATAL_ERROR
        "Packed ${INPUT} has header ${header}, expected ${expected} "
        "(properties 0x5D, dictionary 2^24, ${unpacked_size} bytes)")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
