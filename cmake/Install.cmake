# What `cmake --install` puts where: the programs in bin/, the example decode
# files in share/telvane/examples/ (where the programs look for them next to
# bin/), the desktop entry and its icon in the XDG places, bash completion
# for telvane-cli and the man pages.
include(GNUInstallDirs)

set(TELVANE_PROGRAMS telvane-cli telvane-sim brenlock)
if(TARGET telvane)
    list(APPEND TELVANE_PROGRAMS telvane)
endif()
foreach(program IN LISTS TELVANE_PROGRAMS)
    if(NOT TARGET ${program})
        message(FATAL_ERROR "install: the program ${program} is not built by this configuration")
    endif()
endforeach()
install(TARGETS ${TELVANE_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES examples/Cb_v126.dec examples/Cb_v126_cmd.dec
        DESTINATION ${CMAKE_INSTALL_DATADIR}/telvane/examples)

if(TARGET telvane)
    install(FILES data/telvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES data/telvane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES data/telvane-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME telvane-cli)

# One man page per installed program.
foreach(program IN LISTS TELVANE_PROGRAMS)
    install(FILES man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
