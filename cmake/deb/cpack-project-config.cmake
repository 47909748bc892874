# Read by cpack: the archive's entry times are the build's SOURCE_DATE_EPOCH unless the caller
# set one.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ENV{SOURCE_DATE_EPOCH} "${CPACK_TARNWICK_SOURCE_DATE_EPOCH}")
endif()
