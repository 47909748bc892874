# Run by cpack once the files are staged, before it packs them: the archive's entry times are the
# build's SOURCE_DATE_EPOCH unless the caller set one. Not earlier, since cpack's own build of the
# project would then take it for the builder's.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ENV{SOURCE_DATE_EPOCH} "${CPACK_TARNWICK_SOURCE_DATE_EPOCH}")
endif()
