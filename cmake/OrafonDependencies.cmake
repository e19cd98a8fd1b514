# Finding what the build needs. A missing piece stops the configuration with
# the Debian package that provides it, instead of leaving out the code and the
# tests that need it.

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
