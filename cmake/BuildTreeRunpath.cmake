# orn_build_tree_runpath(<target> DESTINATION <dir> COMPONENT <component>
#                        LIBRARIES <shared library target>...)
#
# Gives a program or shared library a RUNPATH in the build tree that holds
# exactly the folders of LIBRARIES. Installed under /usr, where the loader
# finds the libraries by itself, it has none (as Debian packages need);
# installed under any other prefix (`cmake --install --prefix /opt/orn`), its
# RUNPATH leads from its own folder to the installed libraries
# ($ORIGIN/../lib), so that it and everything linked against it find them
# wherever the prefix is moved. Call it after the target's install(TARGETS),
# with the same DESTINATION and COMPONENT; LIBRARIES are installed in
# CMAKE_INSTALL_LIBDIR.
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
# RUNPATH string, and removing or rewriting the RUNPATH changes that string
# in the installed copy; no symbol name ends in '/', so nothing can share
# its end. The installed RUNPATH is written over the build tree's, which is
# always the longer (its folders are absolute, and lie below the build tree).
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

  # The installed RUNPATH, relative to the installed file's folder.
  if(IS_ABSOLUTE "${arg_DESTINATION}")
    set(origin "")
  else()
    file(RELATIVE_PATH to_libraries "/prefix/${arg_DESTINATION}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
    set(origin "\$ORIGIN")
    if(to_libraries)
      string(APPEND origin "/${to_libraries}")
    endif()
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
      if(\"\${CMAKE_INSTALL_PREFIX}\" MATCHES \"^/usr/*$\" OR \"${origin}\" STREQUAL \"\")
        file(RPATH_REMOVE FILE \"${installed}\")
      else()
        file(RPATH_SET FILE \"${installed}\" NEW_RPATH \"${origin}\")
      endif()
    endif()"
    COMPONENT ${arg_COMPONENT})
endfunction()
