# The window on Linux: Qt 6 Widgets. Included from CMakeLists.txt.
find_package(Qt6 6.2 REQUIRED COMPONENTS Widgets)

# Clipboard and browser for the actions.
target_sources(sharelink_app PRIVATE desktop_posix.cpp clipboard_qt.cpp)
target_link_libraries(sharelink_app PUBLIC Qt6::Gui)

# The window itself, in a library so the GUI tests run the same code as the program.
add_library(sharelink_window_qt STATIC main_window_qt.cpp main_window_qt.h)
set_target_properties(sharelink_window_qt PROPERTIES AUTOMOC ON)
target_link_libraries(sharelink_window_qt PUBLIC sharelink_app Qt6::Widgets)
set(sharelink_icon_sizes 16 24 32 48 64 128 256)
set(sharelink_icon_pngs)
foreach(size IN LISTS sharelink_icon_sizes)
  list(APPEND sharelink_icon_pngs icons/sharelink-${size}.png)
endforeach()
qt_add_resources(sharelink_window_qt sharelink_icons PREFIX / FILES ${sharelink_icon_pngs})

add_executable(sharelink-gui main_qt.cpp)
target_link_libraries(sharelink-gui PRIVATE sharelink_window_qt)

install(TARGETS sharelink-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES sharelink.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES icons/sharelink.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS sharelink_icon_sizes)
  install(FILES icons/sharelink-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME sharelink.png)
endforeach()

if(SHARELINK_TESTS)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  target_sources(sharelink_app_tests PRIVATE desktop_posix_test.cpp)

  add_executable(sharelink_window_qt_tests main_window_qt_test.cpp)
  set_target_properties(sharelink_window_qt_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(sharelink_window_qt_tests PRIVATE
    sharelink_window_qt sharelink_testing Qt6::Test)
  # Debian builds cpp-httplib as a shared library, not header-only.
  find_library(SHARELINK_CPP_HTTPLIB cpp-httplib)
  if(SHARELINK_CPP_HTTPLIB)
    target_link_libraries(sharelink_window_qt_tests PRIVATE ${SHARELINK_CPP_HTTPLIB})
  endif()
  add_test(NAME window_qt COMMAND sharelink_window_qt_tests)
  set_tests_properties(window_qt PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

  # The resolve test again with a German locale, where the decimal point is a comma.
  add_test(NAME window_qt_german_locale
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/with_german_locale.sh
            $<TARGET_FILE:sharelink_window_qt_tests> resolvedNumbersIgnoreTheLocale)
  set_tests_properties(window_qt_german_locale PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen" SKIP_RETURN_CODE 77)

  # The real program under a real X server with a window manager.
  add_test(NAME window_xvfb_smoke
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/window_smoke_test.sh $<TARGET_FILE:sharelink-gui>)
  set_tests_properties(window_xvfb_smoke PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan_desktop.supp")
endif()
