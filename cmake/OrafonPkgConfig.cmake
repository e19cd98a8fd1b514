# pkg-config files for client programs: `pkg-config --cflags --libs orafon`.
#
# build/pkgconfig/orafon.pc points at the source headers and build/bin, for
# PKG_CONFIG_PATH=build/pkgconfig; the installed one at the installed tree.
# Both carry a run path, so a client finds liborafon_platform.so without
# LD_LIBRARY_PATH.
set(ORAFON_PC_TEMPLATE [=[
prefix=@PC_PREFIX@
includedir=@PC_INCLUDEDIR@
libdir=@PC_LIBDIR@

Name: Orafon
Description: Text-to-speech automation component and the platform layer it runs on
Version: @PROJECT_VERSION@
Libs: -L${libdir} -Wl,-rpath,${libdir} -lorafon_platform
Cflags: -I${includedir}
]=])

function(orafon_write_pc output prefix includedir libdir)
  set(PC_PREFIX ${prefix})
  set(PC_INCLUDEDIR ${includedir})
  set(PC_LIBDIR ${libdir})
  string(CONFIGURE "${ORAFON_PC_TEMPLATE}" content @ONLY)
  file(WRITE ${output} "${content}")
endfunction()

orafon_write_pc(${CMAKE_BINARY_DIR}/pkgconfig/orafon.pc ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/include
                ${ORAFON_OUTPUT_DIR})
# The installed file is written at install time, so `cmake --install build
# --prefix DIR` gives paths under DIR.
orafon_write_pc(${CMAKE_BINARY_DIR}/pkgconfig-install/orafon.pc.in "@ORAFON_INSTALL_PREFIX@"
                "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}" "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
install(CODE "
  file(READ \"${CMAKE_BINARY_DIR}/pkgconfig-install/orafon.pc.in\" _orafon_pc)
  string(REPLACE \"@ORAFON_INSTALL_PREFIX@\" \"\${CMAKE_INSTALL_PREFIX}\" _orafon_pc \"\${_orafon_pc}\")
  set(_orafon_pc_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/orafon.pc\")
  message(STATUS \"Installing: \${_orafon_pc_file}\")
  file(WRITE \"\${_orafon_pc_file}\" \"\${_orafon_pc}\")
")
