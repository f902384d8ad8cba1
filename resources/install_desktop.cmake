# Install-time set-up of the desktop menu entry, run by "cmake --install".
# The entry names the launcher by its full path (a menu's PATH seldom holds
# ~/.local/bin), and the help file's type is tied to the CHM viewer so that the
# desktop's opener finds one for help.chm.
set(bindir "${CMAKE_INSTALL_PREFIX}/${KELVORA_INSTALL_BINDIR}")
set(applications "${CMAKE_INSTALL_PREFIX}/${KELVORA_INSTALL_DATADIR}/applications")
file(READ "${KELVORA_DESKTOP_TEMPLATE}" entry)
string(REPLACE "Exec=kelvora-launch" "Exec=\"${bindir}/kelvora-launch\"" entry "${entry}")
set(target "$ENV{DESTDIR}${applications}/kelvora.desktop")
message(STATUS "Installing: ${target}")
file(WRITE "${target}" "${entry}")

# A staged install (DESTDIR, a package build) leaves the machine's
# associations to the package's own scripts.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()
find_program(update_desktop_database update-desktop-database)
if(update_desktop_database)
  execute_process(COMMAND ${update_desktop_database} "${applications}" RESULT_VARIABLE ignored)
endif()
# Only for the installing user's own prefix, and only where no viewer is
# chosen yet: the user's choice wins.
find_program(xdg_mime xdg-mime)
if(xdg_mime AND EXISTS /usr/share/applications/xchm.desktop AND NOT "$ENV{HOME}" STREQUAL ""
   AND "${CMAKE_INSTALL_PREFIX}" MATCHES "^$ENV{HOME}/")
  foreach(type application/vnd.ms-htmlhelp application/x-chm)
    execute_process(COMMAND ${xdg_mime} query default ${type}
                    OUTPUT_VARIABLE chosen OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(chosen STREQUAL "")
      message(STATUS "Opening ${type} (help.chm) with xchm")
      execute_process(COMMAND ${xdg_mime} default xchm.desktop ${type})
    endif()
  endforeach()
endif()
