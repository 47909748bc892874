# Warnings, sanitizer and hardening flags shared by every target of the project: each links
# tarnwick_options.
add_library(tarnwick_options INTERFACE)
target_compile_options(tarnwick_options INTERFACE -Wall -Wextra -Wpedantic)
target_include_directories(tarnwick_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_definitions(tarnwick_options INTERFACE TARNWICK_VERSION="${PROJECT_VERSION}")

if(TARNWICK_SANITIZE OR TARNWICK_BUILD_FUZZ)
    set(TARNWICK_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer)
    target_compile_options(tarnwick_options INTERFACE ${TARNWICK_SANITIZER_FLAGS})
    target_link_options(tarnwick_options INTERFACE ${TARNWICK_SANITIZER_FLAGS})
endif()

if(TARNWICK_BUILD_FUZZ)
    # Coverage for every library the fuzz targets link; the targets add the fuzzer's main.
    target_compile_options(tarnwick_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Every optimised build but the sanitizer and fuzzer ones (which bring their own instrumentation)
# is hardened as Debian hardens its packages. With TARNWICK_FLAGS_FROM_DPKG the flags come from
# dpkg-buildflags with hardening=+all, less its optimisation and debug levels (the build type
# chooses them) and its prefix map (cmake/Reproducible.cmake maps both trees); debian/rules turns
# it off, as dpkg-buildpackage hands the same flags to the compiler already. Debian 12's dpkg
# does not yet give stack-clash and control-flow protection, which its GCC has; they are added
# wherever missing.
option(TARNWICK_FLAGS_FROM_DPKG
    "Take the hardening flags from dpkg-buildflags (off where the builder passes them)" ON)
if(NOT TARNWICK_SANITIZE AND NOT TARNWICK_BUILD_FUZZ)
    include(CheckCXXCompilerFlag)
    set(hardening_compile "")
    set(hardening_link "")
    find_program(TARNWICK_DPKG_BUILDFLAGS dpkg-buildflags)
    if(NOT TARNWICK_FLAGS_FROM_DPKG)
        separate_arguments(hardening_present UNIX_COMMAND "${CMAKE_CXX_FLAGS}")
    elseif(TARNWICK_DPKG_BUILDFLAGS)
        foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
            execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${TARNWICK_DPKG_BUILDFLAGS} --get ${kind}
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
            separate_arguments(flags UNIX_COMMAND "${flags}")
            list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|f(file|debug|macro)-prefix-map=.*)$")
            if(kind STREQUAL LDFLAGS)
                list(APPEND hardening_link ${flags})
            else()
                list(APPEND hardening_compile ${flags})
            endif()
        endforeach()
        set(hardening_present ${hardening_compile})
    else()
        # Elsewhere, what dpkg-buildflags gives on Debian 13 (the loop below adds the rest).
        set(hardening_compile -D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wformat
            -Werror=format-security)
        set(hardening_link -Wl,-z,relro -Wl,-z,now)
        set(hardening_present ${hardening_compile})
        include(CheckPIESupported)
        check_pie_supported()
        set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    endif()
    foreach(flag -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "TARNWICK_HAS${flag}" supported)
        if(NOT flag IN_LIST hardening_present)
            check_cxx_compiler_flag(${flag} ${supported})
            if(${supported})
                list(APPEND hardening_compile ${flag})
            endif()
        endif()
    endforeach()
    target_compile_options(tarnwick_options INTERFACE
        "$<$<NOT:$<CONFIG:Debug>>:${hardening_compile}>")
    target_link_options(tarnwick_options INTERFACE "$<$<NOT:$<CONFIG:Debug>>:${hardening_link}>")
endif()
