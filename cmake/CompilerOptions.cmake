# Warnings and sanitizer flags shared by every target of the project.
add_library(tarnwick_options INTERFACE)
target_compile_options(tarnwick_options INTERFACE -Wall -Wextra -Wpedantic)
target_include_directories(tarnwick_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_definitions(tarnwick_options INTERFACE
    TARNWICK_VERSION="${PROJECT_VERSION}"
    TARNWICK_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    TARNWICK_VERSION_MINOR=${PROJECT_VERSION_MINOR})

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
