# Read by cpack for each generator it runs (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "DEB")
  # Each package's summary is the first line of its own description; a summary for
  # the whole project would be put in front of both.
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
endif()
