# Finding what the build needs, and the include folders targets offer.
#
# A missing piece stops the configuration with the Debian package that
# provides it, instead of leaving out the code and the tests that need it.

function(orafon_missing what package)
  message(FATAL_ERROR "Orafon needs ${what}: install the Debian package(s) ${package} "
                      "(scripts/install-deps.sh installs everything the build uses).")
endfunction()

# orafon_require_pkg(<prefix> PACKAGE <debian packages> MODULES <pkg-config modules> [GLOBAL])
# defines PkgConfig::<prefix>.
function(orafon_require_pkg prefix)
  cmake_parse_arguments(ARG "GLOBAL" "PACKAGE" "MODULES" ${ARGN})
  set(_global "")
  if(ARG_GLOBAL)
    set(_global GLOBAL)
  endif()
  pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${_global} ${ARG_MODULES})
  if(NOT ${prefix}_FOUND)
    string(REPLACE ";" " " _modules "${ARG_MODULES}")
    orafon_missing("the pkg-config module(s) ${_modules}" "${ARG_PACKAGE}")
  endif()
endfunction()

# orafon_require_library(<variable> NAME <library> HEADER <header> PACKAGE <debian package>)
# sets <variable>_LIBRARY and <variable>_INCLUDE_DIR.
function(orafon_require_library variable)
  cmake_parse_arguments(ARG "" "NAME;HEADER;PACKAGE" "" ${ARGN})
  find_library(${variable}_LIBRARY ${ARG_NAME})
  find_path(${variable}_INCLUDE_DIR ${ARG_HEADER})
  if(NOT ${variable}_LIBRARY OR NOT ${variable}_INCLUDE_DIR)
    orafon_missing("the library ${ARG_NAME} with ${ARG_HEADER}" "${ARG_PACKAGE}")
  endif()
endfunction()

# orafon_include_folders(<target> PUBLIC|PRIVATE|INTERFACE <folder>...): the
# folders (relative to the source root) whose headers the target uses or
# offers its users, spelt "<last folder name>/Header.h". Each target gets an
# include folder of its own in the build tree holding a link per folder, so
# only targets that link a library can include its headers.
function(orafon_include_folders target scope)
  set(_root ${CMAKE_BINARY_DIR}/include/${target})
  if(scope STREQUAL "PRIVATE")
    set(_root ${_root}-private)
  endif()
  file(MAKE_DIRECTORY ${_root})
  foreach(folder IN LISTS ARGN)
    get_filename_component(_name ${folder} NAME)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${_root}/${_name} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${_root}>)
endfunction()

# orafon_use_test_services(<target>): the module's part for a test, benchmark
# or fuzz target that links the component without a module
# ("tests/component/TestServices.h").
function(orafon_use_test_services target)
  set(_root ${CMAKE_BINARY_DIR}/include/${target}-test-services)
  file(MAKE_DIRECTORY ${_root}/tests)
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/tests/component ${_root}/tests/component SYMBOLIC)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/component/TestServices.cpp)
  target_include_directories(${target} PRIVATE ${_root})
endfunction()
