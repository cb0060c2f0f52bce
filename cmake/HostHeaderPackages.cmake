# Header-only packages for a cross build: Debian installs them for the build
# machine only (/usr/include, whose other headers must not reach the cross
# compiler).  Each package's own folder is linked into the build tree and a
# small config file there makes find_package give the usual target.
function(kiv_host_header_package package version target folder)
  set(root ${CMAKE_BINARY_DIR}/host-headers/${package})
  get_filename_component(name ${folder} NAME)
  file(MAKE_DIRECTORY ${root}/include)
  if(NOT EXISTS ${root}/include/${name})
    file(CREATE_LINK ${folder} ${root}/include/${name} SYMBOLIC)
  endif()
  file(WRITE ${root}/${package}Config.cmake
    "if(NOT TARGET ${target})\n"
    "  add_library(${target} INTERFACE IMPORTED)\n"
    "  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${root}/include)\n"
    "endif()\n")
  file(WRITE ${root}/${package}ConfigVersion.cmake
    "set(PACKAGE_VERSION ${version})\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
  set(${package}_DIR ${root} CACHE PATH "" FORCE)
endfunction()
