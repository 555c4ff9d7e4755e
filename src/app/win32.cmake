# The window on Windows: plain Win32 controls. Included from CMakeLists.txt.
enable_language(RC)

# Clipboard and browser for the actions.
target_sources(sharelink_app PRIVATE desktop_win32.cpp)
target_link_libraries(sharelink_app PUBLIC user32 shell32)

# The window itself, in a library so the window driver links the same code.
add_library(sharelink_window_win32 STATIC main_window_win32.cpp main_window_win32.h)
target_link_libraries(sharelink_window_win32 PUBLIC sharelink_app user32 gdi32 ole32)

string(REPLACE "." "," sharelink_version_commas "${PROJECT_VERSION}.0")
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/sharelink_version.h CONTENT
"#define SHARELINK_VERSION_COMMAS ${sharelink_version_commas}
#define SHARELINK_VERSION_TEXT \"${PROJECT_VERSION}\"
")
add_executable(sharelink-gui WIN32 main_win32.cpp sharelink.rc)
set_source_files_properties(sharelink.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/sharelink.ico;${CMAKE_CURRENT_SOURCE_DIR}/sharelink.manifest")
target_include_directories(sharelink-gui PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(sharelink-gui PRIVATE sharelink_window_win32 ole32)
install(TARGETS sharelink-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(SHARELINK_TESTS)
  target_sources(sharelink_app_tests PRIVATE desktop_win32_test.cpp main_window_win32_test.cpp)
  target_link_libraries(sharelink_app_tests PRIVATE sharelink_window_win32 sharelink_raw_server oleacc oleaut32)
endif()
