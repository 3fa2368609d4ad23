# orn_build_tree_runpath(<target> DESTINATION <dir> COMPONENT <component>
#                        LIBRARIES <shared library target>...)
#
# Gives an installed program or shared library a RUNPATH in the build tree
# that holds exactly the folders of LIBRARIES, and none once installed.
# Call it after the target's install(TARGETS), with the same DESTINATION and
# COMPONENT.
#
# Left to itself, CMake ends the build-tree RUNPATH of every target that it
# installs with a ':' (so that the install step can rewrite the string in
# place: ".../Logger:"). The dynamic loader reads that empty last entry as
# the current directory, so the program would load, say, a libpugixml.so.1
# from whatever folder it is started in. Here CMake's build-tree RUNPATH is
# turned off for the target, the linker is given the folders itself, and the
# installed copy has its RUNPATH removed, as CMake's own install step would.
#
# Each folder is given with a trailing '/'. The linker may let a shorter
# string of the dynamic string table (a symbol name) share the end of the
# RUNPATH string, and removing the RUNPATH blanks that string in the
# installed copy; no symbol name ends in '/', so nothing can share its end.
#
# Targets with an install RPATH of their own (INSTALL_RPATH,
# INSTALL_RPATH_USE_LINK_PATH), and builds that turn RPATHs off or build
# with the install RPATH, keep CMake's handling.
function(orn_build_tree_runpath target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESTINATION;COMPONENT" "LIBRARIES")
  if(NOT arg_DESTINATION OR NOT arg_COMPONENT OR NOT arg_LIBRARIES)
    message(FATAL_ERROR "orn_build_tree_runpath: DESTINATION, COMPONENT and LIBRARIES are needed")
  endif()
  if(CMAKE_SKIP_RPATH OR CMAKE_SKIP_BUILD_RPATH OR CMAKE_BUILD_WITH_INSTALL_RPATH)
    return()
  endif()
  get_target_property(install_rpath ${target} INSTALL_RPATH)
  get_target_property(use_link_path ${target} INSTALL_RPATH_USE_LINK_PATH)
  if(install_rpath OR use_link_path)
    message(WARNING "${target} has an install RPATH: its build-tree RUNPATH is CMake's, "
      "which ends in an empty entry (the current directory)")
    return()
  endif()

  set_target_properties(${target} PROPERTIES SKIP_BUILD_RPATH ON)
  foreach(library IN LISTS arg_LIBRARIES)
    target_link_options(${target} PRIVATE "LINKER:-rpath,$<TARGET_FILE_DIR:${library}>/")
  endforeach()

  if(IS_ABSOLUTE "${arg_DESTINATION}")
    set(installed "\$ENV{DESTDIR}${arg_DESTINATION}/$<TARGET_FILE_NAME:${target}>")
  else()
    set(installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${arg_DESTINATION}/$<TARGET_FILE_NAME:${target}>")
  endif()
  install(CODE "
    if(EXISTS \"${installed}\" AND NOT IS_SYMLINK \"${installed}\")
      file(RPATH_REMOVE FILE \"${installed}\")
    endif()"
    COMPONENT ${arg_COMPONENT})
endfunction()
