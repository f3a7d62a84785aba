# Packs the ten product files into LZMA-alone streams and writes the resource
# script that carries them, with the SHA-256 of every packed stream, into the
# setup. The top-level build adds ${PV_PAYLOAD_RC} to the setup's sources.

# File names in module table order (payload/module_table.cpp); each resource is
# named after its file with "_" for ".".
set(PV_PAYLOAD_MODULES
    Portvane.exe Portvane_PService.exe Portvane_DService.exe Portvane_Tray.exe dm.exe
    DiskInfo.dll SQLite.Interop.dll Readme.rtf License.rtf Uninst.exe
    CACHE INTERNAL "The payload modules, in module table order")

set(PORTVANE_PAYLOAD_DIR "${PV_STANDIN_PAYLOAD_DIR}" CACHE PATH
    "Folder holding the ten product files to pack (default: the stand-ins the build makes)")
cmake_path(COMPARE "${PORTVANE_PAYLOAD_DIR}" EQUAL "${PV_STANDIN_PAYLOAD_DIR}" packing_standins)
if(NOT packing_standins)
    foreach(file_name ${PV_PAYLOAD_MODULES})
        if(NOT EXISTS "${PORTVANE_PAYLOAD_DIR}/${file_name}")
            message(FATAL_ERROR
                "PORTVANE_PAYLOAD_DIR (${PORTVANE_PAYLOAD_DIR}) lacks ${file_name}; "
                "it must hold all ten product files.")
        endif()
    endforeach()
endif()

set(packed_dir ${CMAKE_CURRENT_BINARY_DIR}/modules)
set(packed_files)
foreach(file_name ${PV_PAYLOAD_MODULES})
    set(source ${PORTVANE_PAYLOAD_DIR}/${file_name})
    set(packed ${packed_dir}/${file_name}.lzma)
    add_custom_command(OUTPUT ${packed}
        COMMAND ${CMAKE_COMMAND} -DLZMA_ALONE=${LZMA_ALONE} -DINPUT=${source} -DOUTPUT=${packed}
                -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/pack_module.cmake
        DEPENDS ${source} ${CMAKE_CURRENT_SOURCE_DIR}/cmake/pack_module.cmake
        COMMENT "Packing payload module ${file_name}"
        VERBATIM)
    list(APPEND packed_files ${packed})
endforeach()

set(PV_PAYLOAD_RC ${CMAKE_CURRENT_BINARY_DIR}/payload_modules.rc
    CACHE INTERNAL "Resource script of the packed payload modules and their digests")
add_custom_command(OUTPUT ${PV_PAYLOAD_RC}
    COMMAND ${CMAKE_COMMAND} "-DMODULES=${PV_PAYLOAD_MODULES}" -DPACKED_DIR=${packed_dir}
            -DRESOURCE_IDS=${PROJECT_SOURCE_DIR}/setup/resource_ids.h -DOUTPUT=${PV_PAYLOAD_RC}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/write_payload_rc.cmake
    DEPENDS ${packed_files} ${CMAKE_CURRENT_SOURCE_DIR}/cmake/write_payload_rc.cmake
    COMMENT "Writing the payload resource script"
    VERBATIM)
add_custom_target(pv_payload_modules DEPENDS ${PV_PAYLOAD_RC})
if(packing_standins)
    add_dependencies(pv_payload_modules pv_standin_payload)
endif()

# windres does not see the files the script names: rebuild whoever compiles it
# when a packed module changes.
set_property(SOURCE ${PV_PAYLOAD_RC} APPEND PROPERTY OBJECT_DEPENDS ${packed_files})
set_property(SOURCE ${PV_PAYLOAD_RC} DIRECTORY ${PROJECT_SOURCE_DIR}
    APPEND PROPERTY OBJECT_DEPENDS ${packed_files})
