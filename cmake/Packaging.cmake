# Where `cmake --install` puts the program and the files a desktop reads to offer it (menu entry,
# icons, software-centre description), and the Debian package built from them with `cpack`.
#
# The program needs nothing else on disk: its icon is compiled into the executable, and the optional
# files it looks for ("HAND-M.CUR") are searched beside the executable, wherever it is installed.

include(GNUInstallDirs)

# The application id names the desktop entry, the icons and the metainfo file alike.
set(GLIMMERFETCH_APP_ID "example.kestrelon.glimmerfetch")
set(_gf_packaging "${PROJECT_SOURCE_DIR}/packaging")
set(_gf_resources "${PROJECT_SOURCE_DIR}/src/app/resources")

install(TARGETS glimmerfetch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The manual page of the command line, compressed as Debian keeps manual pages.
find_program(GLIMMERFETCH_GZIP gzip REQUIRED)
set(_gf_man "${CMAKE_CURRENT_BINARY_DIR}/glimmerfetch.1.gz")
add_custom_command(OUTPUT "${_gf_man}"
                   COMMAND ${GLIMMERFETCH_GZIP} -9n -c "${_gf_packaging}/glimmerfetch.1" > "${_gf_man}"
                   DEPENDS "${_gf_packaging}/glimmerfetch.1" VERBATIM)
add_custom_target(glimmerfetch_man ALL DEPENDS "${_gf_man}")
install(FILES "${_gf_man}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The package's change log, in Debian's format and compressed as Debian keeps it (its newest entry
# names this version).
set(_gf_changelog "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz")
add_custom_command(OUTPUT "${_gf_changelog}"
                   COMMAND ${GLIMMERFETCH_GZIP} -9n -c "${_gf_packaging}/changelog" > "${_gf_changelog}"
                   DEPENDS "${_gf_packaging}/changelog" VERBATIM)
add_custom_target(glimmerfetch_changelog ALL DEPENDS "${_gf_changelog}")
install(FILES "${_gf_changelog}" DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/glimmerfetch)
# A build without the window offers no menu entry and no icons: there is nothing to open.
if(GLIMMERFETCH_GUI)
  install(FILES "${_gf_packaging}/${GLIMMERFETCH_APP_ID}.desktop"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES "${_gf_packaging}/${GLIMMERFETCH_APP_ID}.metainfo.xml"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES "${_gf_resources}/glimmerfetch.svg"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${GLIMMERFETCH_APP_ID}.svg)
  install(FILES "${_gf_resources}/glimmerfetch-256.png"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
          RENAME ${GLIMMERFETCH_APP_ID}.png)
endif()
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/glimmerfetch
        RENAME copyright)

# The Debian package. The libraries the executable links (Qt, the spreadsheet libraries, the C++
# run time) are read from the executable by dpkg-shlibdeps; what it loads or starts at run time
# without linking it is named here: curl for every request, the CA certificates curl checks the
# service against, the fonts the windows are drawn with, and the Qt plugins for the SVG icon and
# the optional cursor and picture formats.
find_program(GLIMMERFETCH_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT GLIMMERFETCH_DPKG_SHLIBDEPS)
  message(WARNING "dpkg-shlibdeps (Debian package dpkg-dev) is missing: a Debian package built with "
                  "cpack would not name the libraries the program needs")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glimmerfetch)
set(CPACK_PACKAGE_VENDOR Kestrelon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrelon <${GLIMMERFETCH_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download pictures from the web by keyword")
# Debian wants the long description in lines of under 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Glimmerfetch is a desktop program that downloads pictures by keyword.\n"
    "Build a list of keywords (typed, or loaded from text files or\n"
    "spreadsheets), choose a folder and how many pictures each keyword gets,\n"
    "and it searches for every keyword and keeps the pictures it finds,\n"
    "optionally only those of a given width or height.\n"
    ".\n"
    "Pictures come from five sources: Openverse and Wikimedia Commons need\n"
    "no key, Pexels and Pixabay a free one, and the hosted Contextual Web\n"
    "Search service a paid one. Only real pictures are kept, and a credits\n"
    "list (credits.csv) beside them names each picture's source page,\n"
    "creator and licence.\n"
    ".\n"
    "The same downloads run without a window from the command line\n"
    "(glimmerfetch fetch), for scripts and machines without a display.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${GLIMMERFETCH_HOME_PAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "curl, ca-certificates, fonts-liberation, libqt6svg6, qt6-image-formats-plugins")
# Without it the program still runs on a Wayland desktop, through XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/\\\\.cache/")

include(CPack)
