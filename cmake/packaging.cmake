# What `make package` ships: for each Windows build a ZIP of the product and a README.txt with
# CR LF line ends; for Linux a Debian package of the programs, their manual pages, the
# documentation and the copyright file; for the browser a ZIP of the page's static files and a
# README.txt on hosting them. The version is the project's.
set(CPACK_PACKAGE_NAME talveron-update)
set(CPACK_PACKAGE_VENDOR TALVERON)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for TALVERON Brevanto MIDI devices")
set(CPACK_STRIP_FILES ON)
set(talveron_maintainer "TALVERON support <support@talveron.example>")

if(WIN32)
  if(TARGET talveron-update)
    install(TARGETS talveron-update RUNTIME DESTINATION .)
  endif()
  # What the messages mean and the Windows troubleshooting are the Markdown pages' own.
  include(cmake/readme_text.cmake)
  readme_text_fill(${PROJECT_SOURCE_DIR})
  # Twice: the first pass fills in the parts, whose line ends only the second makes CR LF.
  configure_file(packaging/README-windows.txt README-lf.txt @ONLY)
  configure_file(${CMAKE_CURRENT_BINARY_DIR}/README-lf.txt README.txt @ONLY NEWLINE_STYLE CRLF)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/docs/messages.md ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(talveron_windows win64)
  else()
    set(talveron_windows win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${talveron_windows})
elseif(EMSCRIPTEN)
  # The same files, from the same places, as the page in out/web; a README.txt beside them, with
  # CR LF line ends as the Windows one, since the ZIP is often unpacked on Windows before upload.
  configure_file(packaging/README-web.txt README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${TALVERON_WEB_FILES} ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-web)
else()
  set(talveron_doc share/doc/${CPACK_PACKAGE_NAME})
  set(talveron_pages "")
  foreach(program talveron-update talveron-update-sim brevanto-device)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION bin)
      list(APPEND talveron_pages ${program})
    endif()
  endforeach()

  # Debian wants manual pages and the changelog compressed, without a time stamp inside. The
  # pages take the version from here.
  set(compressed "")
  foreach(page ${talveron_pages})
    set(page_file ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
    configure_file(man/${page}.1 ${page_file} @ONLY)
    set(out ${page_file}.gz)
    add_custom_command(OUTPUT ${out}
      COMMAND gzip -9n -c ${page_file} > ${out}
      DEPENDS ${page_file} VERBATIM)
    list(APPEND compressed ${out})
    install(FILES ${out} DESTINATION share/man/man1)
  endforeach()
  configure_file(packaging/changelog changelog @ONLY)
  set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND gzip -9n -c ${CMAKE_CURRENT_BINARY_DIR}/changelog > ${changelog}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog VERBATIM)
  add_custom_target(package-files ALL DEPENDS ${compressed} ${changelog})
  install(FILES ${changelog} packaging/copyright README.md DESTINATION ${talveron_doc})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${talveron_maintainer}")
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://talveron.example/brevanto")
  # The RtMidi and ALSA libraries, found from what the programs link.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGE_DESCRIPTION
      "talveron-update sends a firmware kit file to a TALVERON Brevanto device over\n"
      "MIDI, as System Exclusive messages, and checks every record's verdict.\n"
      "brevanto-device plays such a device on ALSA sequencer ports, and\n"
      "talveron-update-sim runs an update against an emulated device.")
  string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
endif()

include(CPack)
