# orn_public_headers(<target> <header>...)
#
# Installs the headers into include/orn and lets users of <target> include
# them either by name ("Node.h": include/orn is on the path) or with their
# folder (<orn/Node.h>: include/ is on the path), which no other project's
# header of the same name can shadow. The build tree offers both forms too:
# <build>/include/orn holds links to the sources.
function(orn_public_headers target)
  set(staged ${PROJECT_BINARY_DIR}/include/orn)
  file(MAKE_DIRECTORY ${staged})
  foreach(header IN LISTS ARGN)
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${staged}/${name} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/orn>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  install(FILES ${ARGN} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orn COMPONENT dev)
endfunction()
