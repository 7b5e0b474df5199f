# What `cmake --install` puts where: the program and the tools in bin/, the desktop entry
# and the icon where desktops look for them, a manual page for each (made from its --help
# text with help2man when that is installed), and the licence and credits.
include(GNUInstallDirs)

set(md_programs)
foreach(program musicdisk tunetool picturetool samplecodec musicdisk-capture)
  if(TARGET ${program})
    get_target_property(imported ${program} IMPORTED)
    if(NOT imported)
      list(APPEND md_programs ${program})
    endif()
  endif()
endforeach()
install(TARGETS ${md_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(TARGET musicdisk)
  install(FILES assets/desktop/musicdisk.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES assets/desktop/musicdisk.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
endif()
install(FILES LICENSE CREDITS README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES assets/font/LICENSE-DejaVu.txt DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)

# Manual pages, one line of description each.
set(md_man_musicdisk "a music disk: an animated scene and thirteen tracker tunes")
set(md_man_tunetool "import, inspect, render and pack tracker tunes for the music disk")
set(md_man_picturetool "turn PNG pictures into the music disk's picture streams and back")
set(md_man_samplecodec "code sample data with the music disk's subband codec")
set(md_man_musicdisk-capture "run the music disk without a display and record its frames and sound")
find_program(HELP2MAN help2man)
# (A cross build cannot run its programs to ask them for their --help.)
if(HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  set(md_pages)
  foreach(program ${md_programs})
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${HELP2MAN} --no-info --section=1 --name=${md_man_${program}} --output=${page} $<TARGET_FILE:${program}>
      DEPENDS ${program}
      COMMENT "Manual page of ${program}"
      VERBATIM)
    list(APPEND md_pages ${page})
  endforeach()
  add_custom_target(md_man_pages ALL DEPENDS ${md_pages})
  install(FILES ${md_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual pages (scripts/install-deps.sh installs it)")
endif()
