# The releases, included from the top-level CMakeLists.txt.
#   Linux:   two Debian packages of what `cmake --install` installs: sharelink (the
#            command, component cli) and sharelink-gui (the window, component gui).
#   Windows: an installer (NSIS) and a ZIP of one folder with both programs, the
#            README and the licence.
set(CPACK_PACKAGE_NAME sharelink)
set(CPACK_PACKAGE_VENDOR "the sharelink developers")
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_options.cmake)

if(WIN32)
  install(FILES README.md LICENSE DESTINATION .)
  include(${CMAKE_CURRENT_LIST_DIR}/windows/installer.cmake OPTIONAL)
  if(NOT CPACK_GENERATOR)
    set(CPACK_GENERATOR ZIP)
  endif()
  set(CPACK_PACKAGE_FILE_NAME sharelink-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # One folder, whatever component a file belongs to.
  set(CPACK_MONOLITHIC_INSTALL ON)
else()
  add_subdirectory(packaging)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL cli)
  if(SHARELINK_GUI)
    list(APPEND CPACK_COMPONENTS_ALL gui)
  endif()
  set(CPACK_DEBIAN_CLI_PACKAGE_NAME sharelink)
  set(CPACK_DEBIAN_GUI_PACKAGE_NAME sharelink-gui)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # NAME_VERSION_ARCH.deb
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the sharelink developers <sharelink@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Dependencies from the libraries the programs link (dpkg-shlibdeps): the command
  # carries its C++ runtime, so it needs only the C library, libcurl and SQLite;
  # the window needs Qt.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The command's aria2 output is for aria2.
  set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS "aria2")
  # xdg-open opens the home page; the window's labels need a Chinese font.
  set(CPACK_DEBIAN_GUI_PACKAGE_RECOMMENDS "xdg-utils, fonts-noto-cjk | fonts-wqy-microhei")
  set(CPACK_DEBIAN_GUI_PACKAGE_SUGGESTS "sharelink")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/strip.cmake)
  set(CPACK_SHARELINK_STRIP ${CMAKE_STRIP})
  # The first line of each is the package's summary.
  set(sharelink_about [[sharelink turns the share address of a file on the Kuaichuan or the Pan
file-sharing service into what a downloader needs: the direct download
address, the file name, the kind of file, its size and its MD5 text.]])
  set(CPACK_DEBIAN_CLI_DESCRIPTION "resolve file-sharing share addresses into download addresses
${sharelink_about}

This package holds the sharelink command, which can also write JSON or an
input file for aria2, or download the files itself. The window is in the
package sharelink-gui.")
  set(CPACK_DEBIAN_GUI_DESCRIPTION "window that resolves file-sharing share addresses
${sharelink_about}

This package holds the window, sharelink-gui: paste a share address, press
one button, and copy the download address with a click. The command is in the
package sharelink.")
endif()
include(CPack)
