# cmake -DMODULES=a;b -DPACKED_DIR=... -DRESOURCE_IDS=... -DOUTPUT=x.rc
#       -P write_payload_rc.cmake
# One "MODULE" resource per packed module (language 1041) and the digest
# resource: the SHA-256 of every packed module, the bytes the resource carries,
# 32 bytes each in module order, written as little-endian 16-bit words because
# that is what RCDATA numbers are.
set(script "#include \"${RESOURCE_IDS}\"\n\nLANGUAGE 0x11, 0x01\n\n")
foreach(file_name ${MODULES})
    string(REPLACE "." "_" resource_name ${file_name})
    string(APPEND script "${resource_name} MODULE \"${PACKED_DIR}/${file_name}.lzma\"\n")
endforeach()

set(lines)
foreach(file_name ${MODULES})
    file(SHA256 ${PACKED_DIR}/${file_name}.lzma digest)
    set(words)
    foreach(offset RANGE 0 62 4)
        string(SUBSTRING ${digest} ${offset} 2 low)
        math(EXPR high_offset "${offset} + 2")
        string(SUBSTRING ${digest} ${high_offset} 2 high)
        list(APPEND words "0x${high}${low}")
    endforeach()
    list(JOIN words ", " line)
    list(APPEND lines "    // ${file_name}\n    ${line}")
endforeach()
list(JOIN lines ",\n" body)
string(APPEND script "\nIDR_MODULE_DIGESTS RCDATA\nBEGIN\n${body}\nEND\n")
file(WRITE ${OUTPUT} "${script}")
