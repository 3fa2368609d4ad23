# orn_compress(FILE OUTPUT_VARIABLE)
# Compresses FILE at build time into the build folder and sets
# OUTPUT_VARIABLE to the path of the .gz file, for install(FILES). The file
# is compressed the way Debian ships manual pages and changelogs: maximum
# compression and no name or time stamp in the header, so that two builds give
# the same bytes.
find_program(ORN_GZIP gzip REQUIRED)

function(orn_compress file output_variable)
  get_filename_component(source "${file}" ABSOLUTE)
  get_filename_component(name "${file}" NAME)
  set(copy "${CMAKE_CURRENT_BINARY_DIR}/compressed/${name}")
  add_custom_command(OUTPUT "${copy}.gz"
    COMMAND ${CMAKE_COMMAND} -E copy "${source}" "${copy}"
    COMMAND ${ORN_GZIP} -9nf "${copy}"
    DEPENDS "${source}"
    COMMENT "Compressing ${name}"
    VERBATIM)
  string(MAKE_C_IDENTIFIER "orn_compress_${name}" target)
  add_custom_target(${target} ALL DEPENDS "${copy}.gz")
  set(${output_variable} "${copy}.gz" PARENT_SCOPE)
endfunction()
