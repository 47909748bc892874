# The same commit builds the same program, byte for byte, wherever and whenever it is built.

# The compiled-in resources' time stamps are SOURCE_DATE_EPOCH: the builder's, else the last
# commit's time, else (a tree without git) the latest changelog entry's.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(TARNWICK_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
    set(TARNWICK_SOURCE_DATE_EPOCH ${TARNWICK_RELEASE_TIME})
    find_package(Git QUIET)
    if(GIT_FOUND)
        execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel --absolute-git-dir
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE git_dirs
            RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
        string(REPLACE "\n" ";" git_dirs "${git_dirs}")
        list(GET git_dirs 0 git_top)
        file(REAL_PATH "${PROJECT_SOURCE_DIR}" source_dir)
        # Only this project's own repository counts, not one the tree happens to lie in.
        if(NOT failed AND git_top STREQUAL source_dir)
            execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                OUTPUT_VARIABLE TARNWICK_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE)
            # A new commit configures the tree again, so that its time is the one taken.
            list(GET git_dirs 1 git_dir)
            if(EXISTS ${git_dir}/logs/HEAD)
                set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_dir}/logs/HEAD)
            endif()
        endif()
    endif()
endif()

# Build paths never enter the objects (nor so the build ID of the stripped program): sources read
# as ./, the build tree as build/; the later map wins where the build tree lies inside the
# sources. dpkg-buildflags maps the sources itself where it gives the flags. moc names headers
# from the include path rather than relative to the build tree.
if(TARNWICK_FLAGS_FROM_DPKG)
    target_compile_options(tarnwick_options INTERFACE
        "$<$<NOT:$<CONFIG:Debug>>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
        "$<$<NOT:$<CONFIG:Debug>>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>")
endif()
set(CMAKE_AUTOMOC_PATH_PREFIX ON)

# Installed directories are 0755 whatever the installer's umask; files get install()'s fixed
# modes.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
