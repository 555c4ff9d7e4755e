# Run by CPack on the staged files before it packs them: drop the sections a
# stripped program has no use for (compiler names, old-style notes), as Debian's
# own packaging does. Each package is staged in a folder of its own.
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/usr/bin/*" "${CPACK_TEMPORARY_DIRECTORY}/*/usr/bin/*")
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${CPACK_SHARELINK_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
