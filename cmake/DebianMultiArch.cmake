# Run by cpack once the packages are made (CPACK_POST_BUILD_SCRIPTS), on the
# packages named in CPACK_ORN_SHARED_PACKAGES. Finishes them as Debian lays
# out a library, which CPack's own settings cannot express:
#   - "Multi-Arch: same": the library and its development files of two
#     architectures (amd64 and arm64, say) can be installed side by side;
#     every file they share outside the multiarch folder is the same bytes;
#   - no maintainer scripts: CPack writes ones that run ldconfig for any
#     package with libraries in /usr/lib, but dpkg's ldconfig trigger
#     (packaging/debian/triggers) already does that.
# Each package is unpacked, its control files changed and packed again; the
# files it holds stay the same.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND dpkg-deb --field ${package} Package
    OUTPUT_VARIABLE name OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  if(NOT name IN_LIST CPACK_ORN_SHARED_PACKAGES)
    continue()
  endif()
  get_filename_component(folder ${package} DIRECTORY)
  set(tree ${folder}/${name}.unpacked)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  file(READ ${tree}/DEBIAN/control control)
  string(REGEX REPLACE "(^|\n)(Architecture: [^\n]*\n)" "\\1\\2Multi-Arch: same\n"
    control "${control}")
  file(WRITE ${tree}/DEBIAN/control "${control}")
  file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${package}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
