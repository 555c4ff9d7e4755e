# SQLite, which keeps the command's download archive: Debian's library on Linux.
# The Windows build has no SQLite of Debian's to link, so it builds SQLite's
# one-file source, made from Debian's source package by
# scripts/sqlite-amalgamation into the build folder the first time.
if(TARGET SQLite::SQLite3)
  return()
endif()
if(NOT WIN32)
  find_package(SQLite3 REQUIRED)
  return()
endif()

set(SHARELINK_SQLITE_SOURCE_DIR ${CMAKE_BINARY_DIR}/sqlite CACHE PATH
    "The folder of sqlite3.c and sqlite3.h for the Windows build (made when they are missing)")
if(NOT EXISTS ${SHARELINK_SQLITE_SOURCE_DIR}/sqlite3.c)
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/sqlite-amalgamation ${SHARELINK_SQLITE_SOURCE_DIR}
                  RESULT_VARIABLE made)
  if(NOT made EQUAL 0)
    message(FATAL_ERROR "SQLite's source could not be made in ${SHARELINK_SQLITE_SOURCE_DIR} "
                        "(scripts/sqlite-amalgamation; scripts/install-deps installs what it needs)")
  endif()
endif()

enable_language(C)
add_library(sharelink_sqlite STATIC ${SHARELINK_SQLITE_SOURCE_DIR}/sqlite3.c)
target_include_directories(sharelink_sqlite SYSTEM PUBLIC ${SHARELINK_SQLITE_SOURCE_DIR})
# Serialized threading as Debian builds it; no extensions loaded from files.
target_compile_definitions(sharelink_sqlite PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
                           SQLITE_DQS=0)
# SQLite's own code is not held to this project's warnings; -O2 is what SQLite is
# tested with, and builds in half the time -O3 takes.
target_compile_options(sharelink_sqlite PRIVATE -w -O2)
add_library(SQLite::SQLite3 ALIAS sharelink_sqlite)
