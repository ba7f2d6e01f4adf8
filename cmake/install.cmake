# Where `cmake --install` puts Pelorvane so that a Linux desktop finds it: the launcher as
# bin/pelorvane, the program beside it in libexec, the desktop entry, the icons, and the data
# that the launcher copies into each user's working directory on the first start.
if(TARGET pelorvane)
  include(GNUInstallDirs)

  set(_program_dir ${CMAKE_INSTALL_LIBEXECDIR}/pelorvane)
  set(_share_dir ${CMAKE_INSTALL_DATADIR}/pelorvane)

  # scripts/run.sh learns from this file where the build put the program.
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/pelorvane-program.txt
    CONTENT "$<TARGET_FILE:pelorvane>\n")

  # The launcher finds the program and the data relative to itself, so the installed tree can
  # be moved as a whole (also under DESTDIR).
  file(RELATIVE_PATH _program_rel /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${_program_dir}/pelorvane)
  file(RELATIVE_PATH _share_rel /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${_share_dir})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/res/pelorvane-launcher.sh)
  file(READ ${PROJECT_SOURCE_DIR}/res/pelorvane-launcher.sh _launcher)
  string(REPLACE "program_rel=\"../libexec/pelorvane/pelorvane\"" "program_rel=\"${_program_rel}\""
    _launcher "${_launcher}")
  string(REPLACE "share_rel=\"../share/pelorvane\"" "share_rel=\"${_share_rel}\""
    _launcher "${_launcher}")
  file(WRITE ${CMAKE_BINARY_DIR}/install/pelorvane "${_launcher}")

  install(TARGETS pelorvane RUNTIME DESTINATION ${_program_dir})
  install(PROGRAMS ${CMAKE_BINARY_DIR}/install/pelorvane DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The desktop entry names the launcher by its full path, since a prefix such as ~/.local may
  # not be on the desktop session's PATH. The prefix is known only at install time.
  install(CODE "
    set(_launcher \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/pelorvane\")
    if(_launcher MATCHES \" \")
      set(_launcher \"\\\"\${_launcher}\\\"\")
    endif()
    file(READ \"${PROJECT_SOURCE_DIR}/res/pelorvane.desktop\" _entry)
    string(REPLACE \"Exec=pelorvane\" \"Exec=\${_launcher}\" _entry \"\${_entry}\")
    file(WRITE \"${CMAKE_BINARY_DIR}/install/pelorvane.desktop\" \"\${_entry}\")
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\"
      TYPE FILE FILES \"${CMAKE_BINARY_DIR}/install/pelorvane.desktop\")
  ")
  foreach(_size 16 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/pelorvane-${_size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
      RENAME pelorvane.png)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/res/inst_name_gm.txt DESTINATION ${_share_dir})
  file(GLOB _demo_songs ${PROJECT_SOURCE_DIR}/res/demo/*.mid)
  install(FILES ${_demo_songs} DESTINATION ${_share_dir}/demo)
endif()

# What a desktop's software centre and man(1) read: the AppStream metainfo and the man page,
# compressed as Debian installs man pages.
if(TARGET pelorvane)
  install(FILES ${PROJECT_SOURCE_DIR}/res/pelorvane.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo
    RENAME org.pelorvane.pelorvane.metainfo.xml)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/install/pelorvane.1.gz
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/res/pelorvane.1 > ${CMAKE_BINARY_DIR}/install/pelorvane.1.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/res/pelorvane.1
    VERBATIM)
  add_custom_target(pelorvane-man ALL DEPENDS ${CMAKE_BINARY_DIR}/install/pelorvane.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/install/pelorvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
