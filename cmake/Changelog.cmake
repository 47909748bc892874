# debian/changelog is the one record of releases: the package's changelog, the project's version,
# the AppStream metainfo's <releases> and the manual page's date.
# Sets TARNWICK_RELEASES_XML, and TARNWICK_RELEASE_TIME and
# TARNWICK_RELEASE_DAY: the latest entry's time in seconds since the epoch, and its day.
set(TARNWICK_CHANGELOG ${PROJECT_SOURCE_DIR}/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TARNWICK_CHANGELOG})
file(STRINGS ${TARNWICK_CHANGELOG} changelog_lines REGEX "^(tarnwick \\(| -- )")
set(TARNWICK_RELEASES_XML "")
unset(TARNWICK_RELEASE_TIME)
foreach(line IN LISTS changelog_lines)
    if(line MATCHES "^tarnwick \\(([^)]+)\\)")
        set(version ${CMAKE_MATCH_1})
        if(NOT DEFINED TARNWICK_RELEASE_TIME AND NOT version STREQUAL PROJECT_VERSION)
            message(FATAL_ERROR "debian/changelog starts with ${version}, the project is "
                "${PROJECT_VERSION}: add an entry for this version")
        endif()
    elseif(line MATCHES "^ -- .+>  (.+)$")
        execute_process(COMMAND date -u -d "${CMAKE_MATCH_1}" +%s%n%F
            OUTPUT_VARIABLE when RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(failed)
            message(FATAL_ERROR "debian/changelog: no date in '${line}'")
        endif()
        string(REPLACE "\n" ";" when "${when}")
        list(GET when 0 seconds)
        list(GET when 1 day)
        if(NOT DEFINED TARNWICK_RELEASE_TIME)
            set(TARNWICK_RELEASE_TIME ${seconds})
            set(TARNWICK_RELEASE_DAY ${day})
        endif()
        string(APPEND TARNWICK_RELEASES_XML
            "    <release version=\"${version}\" date=\"${day}\"/>\n")
    endif()
endforeach()
if(NOT DEFINED TARNWICK_RELEASE_TIME)
    message(FATAL_ERROR "debian/changelog holds no complete entry")
endif()
string(STRIP "${TARNWICK_RELEASES_XML}" TARNWICK_RELEASES_XML)
