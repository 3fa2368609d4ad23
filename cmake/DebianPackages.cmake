# Debian packages, one per install component, as Debian lays out a shared
# library:
#   liborn-dataparser1     runtime: liborn_DataParser.so.1 and liborn_Logger.so.1
#                          (one package: both sonames follow the project's
#                          major version, so they always change together; so
#                          does the package's name)
#   liborn-dataparser-dev  headers, the .so links, CMake package, pkg-config file
#   orn-redact             the tool, its manual page and its bash completion
# Configure with -DCMAKE_INSTALL_PREFIX=/usr to get the multiarch library
# folder. The architecture is the host's, or the one that a toolchain file
# names. Every package carries the copyright file and changelog in
# /usr/share/doc/<package>.
set(orn_deb_runtime liborn-dataparser${PROJECT_VERSION_MAJOR})
set(orn_deb_dev liborn-dataparser-dev)
set(orn_deb_tool orn-redact)

set(orn_deb_components runtime dev)
if(TARGET orn-redact)
  list(APPEND orn_deb_components tool)
endif()

orn_compress(${PROJECT_SOURCE_DIR}/packaging/debian/changelog orn_deb_changelog)
foreach(component IN LISTS orn_deb_components)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${orn_deb_changelog}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${orn_deb_${component}}
    COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${orn_deb_components})
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_PACKAGE_NAME orn-dataparser)
set(CPACK_PACKAGE_CONTACT "orn DataParser maintainers <dataparser@orn.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE orn-dataparser)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The packages' dependencies on shared libraries of other packages (C and C++
# runtime, pugixml) are the ones dpkg-shlibdeps reads from the packaged
# binaries, with the lowest versions that the symbols used need; the
# dependencies between our own packages are written out below. Our own
# libraries are not installed while the packages are made, so dpkg-shlibdeps
# is pointed at their folders in the build tree (-l) to follow what they need
# in turn; it adds no dependency for them (cpack passes --ignore-missing-info).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)
foreach(library IN ITEMS orn_DataParser orn_Logger)
  get_target_property(folder ${library} LIBRARY_OUTPUT_DIRECTORY)
  if(NOT folder)
    get_target_property(folder ${library} BINARY_DIR)
  endif()
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${folder})
endforeach()
# Binaries lose their symbol tables and debug information in the packages.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${orn_deb_runtime})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "format-neutral document parser library, XML on pugixml
liborn_DataParser gives C++ programs one interface for structured documents
(qiv::DataParserIF, Node, Attribute, XPathNode) and an XML implementation of
it on pugixml: load, walk, read and write values, edit, select with XPath,
redact and save.

This package holds the shared libraries liborn_DataParser.so.${PROJECT_VERSION_MAJOR} and the
logging library liborn_Logger.so.${PROJECT_VERSION_MAJOR} that it writes its diagnostics through.")
# shlibs file (which package provides each soname, from which version on), so
# that dpkg-shlibdeps of programs built against the libraries finds it.
# Only the runtime package holds shared objects, so only it gets one.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The library cache is refreshed through dpkg's ldconfig trigger, not by
# maintainer scripts that call ldconfig (DebianMultiArch.cmake removes the
# ones CPack writes).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
# Multi-Arch: same for the library and its development files.
set(CPACK_ORN_SHARED_PACKAGES ${orn_deb_runtime} ${orn_deb_dev})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianMultiArch.cmake)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${orn_deb_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "${orn_deb_runtime} (= ${PROJECT_VERSION}), libpugixml-dev (>= 1.13)")
set(CPACK_DEBIAN_DEV_DESCRIPTION "format-neutral document parser library, XML on pugixml (development files)
liborn_DataParser gives C++ programs one interface for structured documents
(qiv::DataParserIF, Node, Attribute, XPathNode) and an XML implementation of
it on pugixml.

This package holds the headers (in /usr/include/orn), the links to the shared
libraries, the CMake package orn_DataParser (targets orn::DataParser and
orn::Logger) and the pkg-config file orn_DataParser.pc.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${orn_deb_tool})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION text)
# The libraries' package: dpkg-shlibdeps finds liborn_DataParser.so in the
# build tree, but no package that it knows holds it, so it adds nothing for it.
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${orn_deb_runtime} (>= ${PROJECT_VERSION})")
# The libraries the tool loads on first use (compression, libcrypto, libyaml)
# are not in its DT_NEEDED, so dpkg-shlibdeps cannot see them: they are named
# here, as tools/orn-redact/CMakeLists.txt found their packages.
if(ORN_REDACT_LOADED_PACKAGES)
  string(APPEND CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS ", ${ORN_REDACT_LOADED_PACKAGES}")
endif()
set(CPACK_DEBIAN_TOOL_DESCRIPTION "replace the text selected by XPath expressions in XML documents
orn-redact sets the text of every element that XPath expressions select to
the word redacted and writes the document. The output is the input's own
bytes with only the selected values replaced: declaration, DOCTYPE,
references, comments, whitespace, line ends and attribute order stay as they
were. Output files are replaced atomically, and nothing is written when any
step fails.")

include(CPack)
