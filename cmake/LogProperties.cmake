# Puts a program's log4j properties file beside the program, in the build
# tree and at installation, with its log file named by the program's folder
# in full, so that the log lands there whatever folder the program is
# started from. The file names its log "File=<log>" relative; the installed
# copy is written at install time, when the final prefix is known.
function(ml_log_properties program properties log)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${properties})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REPLACE "File=${log}" "File=${CMAKE_CURRENT_BINARY_DIR}/${log}" text "${text}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${properties} "${text}")

  include(GNUInstallDirs)
  install(TARGETS ${program})
  install(CODE "set(ml_source [[${source}]])
set(ml_properties [[${properties}]])
set(ml_log [[${log}]])
set(ml_bindir [[${CMAKE_INSTALL_BINDIR}]])")
  install(CODE [[
    set(folder "${CMAKE_INSTALL_PREFIX}/${ml_bindir}")
    file(READ "${ml_source}" text)
    string(REPLACE "File=${ml_log}" "File=${folder}/${ml_log}" text "${text}")
    message(STATUS "Installing: $ENV{DESTDIR}${folder}/${ml_properties}")
    file(WRITE "$ENV{DESTDIR}${folder}/${ml_properties}" "${text}")
  ]])
endfunction()
