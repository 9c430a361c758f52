# What `cmake --install` puts where, and the Debian package `cpack -G DEB`
# makes of it. Only the two programs and their desktop files are installed:
# the libraries are static and linked into the programs, and the tests,
# benchmarks, fuzz targets and the demo's media painter have no install rules.
include(GNUInstallDirs)

install(TARGETS orbviewer orbtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# A double-click on a project or a published show opens it in the player.
# Debian's shared-mime-info, desktop-file-utils and icon caches refresh
# themselves through dpkg triggers on these folders; nothing of ours runs.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/data/orblume-player.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/data/orblume-player.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/data/orblume-player.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Debian wants manual pages compressed with gzip -9n (no name, no time, so
# that two builds give the same bytes); without gzip they go in as written.
set(orb_man_pages orbviewer.1 orbtool.1)
find_program(ORB_GZIP gzip)
if(ORB_GZIP)
  set(orb_man_outputs)
  foreach(page ${orb_man_pages})
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(
      OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${ORB_GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/data/man/${page} > ${compressed}
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/data/man/${page}
      COMMENT "Compressing the manual page ${page}"
      VERBATIM)
    list(APPEND orb_man_outputs ${compressed})
  endforeach()
  add_custom_target(orb_man_pages ALL DEPENDS ${orb_man_outputs})
  install(FILES ${orb_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  list(TRANSFORM orb_man_pages PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/data/man/)
  install(FILES ${orb_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# ---- the Debian package ----
if(PROJECT_VERSION)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
else()
  set(CPACK_PACKAGE_VERSION 0.1.0)
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orblume-player)
set(CPACK_PACKAGE_VENDOR "Orblume Player developers")
set(CPACK_PACKAGE_CONTACT "Orblume Player developers <maintainers@users.noreply.c-seed-228dced5.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "slide show player with transitions, music and animated objects")
set(CPACK_PACKAGE_DESCRIPTION
  "Orblume Player plays published slide shows and show projects: pictures,\n"
  "texts and animated objects moving on key points, transitions between the\n"
  "slides, and the show's music. It runs headless for scripted checks.\n"
  "\n"
  "orbtool publishes a show project as a player file, inspects packages and\n"
  "timelines, and renders shows to video frames and WAV without a display,\n"
  "in software or through OpenGL 3.3.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from what the programs link (dpkg-shlibdeps, from
# dpkg-dev); the font is the one texts fall back to when a show's font is
# not installed, opened by path when fontconfig finds nothing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-dejavu-core)
# Its italic and condensed faces, for texts set in italics.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-extra)
# Only orbtool's "--device gl" draws through OpenGL, which needs Mesa's
# drivers; the player draws in software, so they are merely suggested.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS libgl1-mesa-dri)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
