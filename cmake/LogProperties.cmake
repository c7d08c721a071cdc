# Puts a program's log4j properties file beside the program in the build
# tree, with its log file named by the program's folder in full, so that the
# log lands there whatever folder the program is started from. The installed
# copy goes to the data folder (the programs look beside themselves first,
# then there) and logs into the user's own state folder,
# ~/.local/state/zentoria/, which log4cxx creates: an installed bin/ is
# seldom writable by its users.
function(ml_log_properties program properties log)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${properties})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REPLACE "File=${log}" "File=${CMAKE_CURRENT_BINARY_DIR}/${log}" built "${text}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${properties} "${built}")
  string(REPLACE "File=${log}" "File=\${HOME}/.local/state/zentoria/${log}" installed "${text}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/installed/${properties} "${installed}")

  install(TARGETS ${program})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/installed/${properties} DESTINATION ${ML_DATA_DIR})
endfunction()
