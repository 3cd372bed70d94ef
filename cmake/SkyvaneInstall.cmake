# Installing the programs and their data (cmake --install, and the .deb).
#
# Each program's folder installs itself with one call:
#
#   skyvane_install_program(XOB_Updater)
#   skyvane_install_program(XOB_Nephor_sim COMPONENT sensorsim)
#   skyvane_install_program(XOB_ResetParameters DESKTOP ${CMAKE_SOURCE_DIR}/packaging/<id>.desktop)
#
# The program goes to bin/, its man page docs/man/<target>.1 (when it exists)
# compressed to share/man/man1/, a desktop file to share/applications/.
# COMPONENT: "programs" (the main package) unless told otherwise.
include(GNUInstallDirs)

# Installing (and cpack) takes the tree as built: it does not first build
# every target, tests and benchmarks included. Build, then install.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(SKYVANE_MAN_BUILD_DIR ${CMAKE_BINARY_DIR}/man)
if(NOT TARGET skyvane_man_pages)
  add_custom_target(skyvane_man_pages ALL)
endif()

# A page is installed once, by whichever call comes first (the program's own
# folder, or packaging/ for a program this tree does not build).
function(skyvane_install_man page component)
  get_filename_component(name ${page} NAME)
  string(MAKE_C_IDENTIFIER "man_${name}" tgt)
  if(TARGET ${tgt})
    return()
  endif()
  set(out ${SKYVANE_MAN_BUILD_DIR}/${name}.gz)
  # -n: no name or time stamp inside, so the package builds the same twice.
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${SKYVANE_MAN_BUILD_DIR}
    COMMAND gzip -9nc ${page} > ${out}
    DEPENDS ${page}
    COMMENT "Compressing the man page ${name}"
    VERBATIM)
  add_custom_target(${tgt} DEPENDS ${out})
  add_dependencies(skyvane_man_pages ${tgt})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

function(skyvane_install_program target)
  cmake_parse_arguments(P "" "COMPONENT;DESKTOP;MAN" "" ${ARGN})
  if(NOT P_COMPONENT)
    set(P_COMPONENT programs)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${P_COMPONENT})
  if(NOT P_MAN)
    set(P_MAN ${CMAKE_SOURCE_DIR}/docs/man/${target}.1)
  endif()
  if(EXISTS ${P_MAN})
    skyvane_install_man(${P_MAN} ${P_COMPONENT})
  endif()
  if(P_DESKTOP)
    install(FILES ${P_DESKTOP} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${P_COMPONENT})
  endif()
endfunction()
