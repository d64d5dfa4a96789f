# cmake --install <build> --prefix <dir> lays the service out as
#
#   <dir>/lib/ostra-doorlock/            the service's own folder: OstraDoorLock
#                                        and its libraries (libostracom.so,
#                                        libPendrix.so, liblyComm.so,
#                                        libKestrane.so), ostra-regsvr,
#                                        lycomm-card, Option.ini.sample,
#                                        Setting.ini.sample. The program keeps
#                                        "Option.ini", its log and "Client.mdb"
#                                        here; the card library reads
#                                        "Setting.ini" here.
#   <dir>/lib/ostra-doorlock/plugin-host/  KestraneHost, KestraneDriverHost
#                                        (their own "Option.ini" and log)
#   <dir>/lib/ostra-doorlock/scripts/    make-client-mdb, carddb and the files
#                                        they read
#   <dir>/bin/                           links to OstraDoorLock, ostra-regsvr
#                                        and lycomm-card
#
# Every program finds its libraries relative to itself ($ORIGIN), so the
# tree can be moved as a whole. A program started through a link in bin/
# still works in its own folder: the service finds its folder through
# /proc/self/exe, and the loader resolves $ORIGIN the same way.
set(OSTRA_INSTALL_DIR "lib/ostra-doorlock" CACHE STRING
  "Folder of the service under the install prefix")

set(_ostra_service_targets OstraDoorLock ostracom Pendrix lyComm Kestrane ostra-regsvr lycomm-card)
set(_ostra_host_targets KestraneHost KestraneDriverHost)
set_target_properties(${_ostra_service_targets} PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(${_ostra_host_targets} PROPERTIES INSTALL_RPATH "$ORIGIN/..")

install(TARGETS ${_ostra_service_targets}
  RUNTIME DESTINATION ${OSTRA_INSTALL_DIR}
  LIBRARY DESTINATION ${OSTRA_INSTALL_DIR})
install(TARGETS ${_ostra_host_targets}
  RUNTIME DESTINATION ${OSTRA_INSTALL_DIR}/plugin-host)

# Samples under names that never replace the live settings.
install(FILES ${PROJECT_SOURCE_DIR}/docs/samples/Option.ini
  DESTINATION ${OSTRA_INSTALL_DIR} RENAME Option.ini.sample)
install(FILES ${PROJECT_SOURCE_DIR}/docs/samples/Setting.ini
  DESTINATION ${OSTRA_INSTALL_DIR} RENAME Setting.ini.sample)

# The scripts look for their files beside themselves first.
install(PROGRAMS
  ${PROJECT_SOURCE_DIR}/scripts/make-client-mdb
  ${PROJECT_SOURCE_DIR}/scripts/carddb
  DESTINATION ${OSTRA_INSTALL_DIR}/scripts)
install(FILES
  ${PROJECT_SOURCE_DIR}/service/core/ClientMdb.sql
  ${PROJECT_SOURCE_DIR}/cardlib/DBMervLockTM.sql
  DESTINATION ${OSTRA_INSTALL_DIR}/scripts)
install(FILES ${PROJECT_SOURCE_DIR}/scripts/odbc/odbcinst.ini.in
  DESTINATION ${OSTRA_INSTALL_DIR}/scripts/odbc)

foreach(_program OstraDoorLock ostra-regsvr lycomm-card)
  install(CODE "
    set(_bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(MAKE_DIRECTORY \"\${_bin}\")
    message(STATUS \"Installing: \${_bin}/${_program}\")
    file(CREATE_LINK \"../${OSTRA_INSTALL_DIR}/${_program}\" \"\${_bin}/${_program}\" SYMBOLIC)")
endforeach()
