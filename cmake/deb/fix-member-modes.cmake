# Run by cpack after it wrote the .deb: CPack gives the ar members (debian-binary, control.tar,
# data.tar) the modes its work files got from the builder's umask; dpkg-deb writes 0644 whatever
# the umask, and so does this. An ar header is 60 bytes after the 8-byte magic, its mode at 40,
# its size at 48; each member is padded to an even length.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    file(SIZE ${deb} size)
    set(offset 8)
    while(offset LESS size)
        math(EXPR mode_offset "${offset} + 40")
        math(EXPR size_offset "${offset} + 48")
        file(READ ${deb} member_size OFFSET ${size_offset} LIMIT 10)
        string(STRIP "${member_size}" member_size)
        execute_process(COMMAND sh -c "printf '100644  ' |
            dd of='${deb}' bs=1 seek=${mode_offset} conv=notrunc status=none"
            COMMAND_ERROR_IS_FATAL ANY)
        math(EXPR offset "${offset} + 60 + ${member_size} + ${member_size} % 2")
    endwhile()
endforeach()
