# The Windows installer: CPack's NSIS generator with this folder's template, built
# on Linux with Debian's makensis (its amd64-unicode stubs make a 64-bit installer).
# Included from packaging/cpack.cmake in the Windows build; without makensis only
# the ZIP is made.
find_program(SHARELINK_MAKENSIS makensis)
if(SHARELINK_MAKENSIS)
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_NSIS_EXECUTABLE ${SHARELINK_MAKENSIS})
  # CPack looks for NSIS.template.in on the module path first.
  list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
  set(CPACK_SHARELINK_NSIS_ICON ${PROJECT_SOURCE_DIR}/src/app/sharelink.ico)
  set(CPACK_SHARELINK_NSIS_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_SHARELINK_NSIS_VERSION4 ${PROJECT_VERSION}.0)
endif()
