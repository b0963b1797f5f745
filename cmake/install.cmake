# Install layout: the utility and kivses in sbin, the simulator's control command in
# bin, libraries in lib, the public headers (each target's HEADERS file set)
# in include/kiv/<module>/, manual pages, and a CMake package
# (find_package(kiv), targets kiv::kivses, ...).
include(CMakePackageConfigHelpers)

set(kiv_install_targets kivwire nici_api kivdebug LL kivadapci kivses)
if(KIV_NICI STREQUAL "sim")
  list(APPEND kiv_install_targets nicisim)
endif()
install(TARGETS ${kiv_install_targets} EXPORT kivTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kiv
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kiv)
install(TARGETS kivservicemode kivses_cli RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
# Bash completion, where bash-completion loads it on demand (under /usr:
# its completionsdir).
set(kiv_completions completion/kivservicemode completion/kivses)
if(KIV_NICI STREQUAL "sim")
  install(TARGETS kivadapsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND kiv_completions completion/kivadapsim)
endif()
install(FILES ${kiv_completions} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

install(EXPORT kivTargets NAMESPACE kiv:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kiv)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kivConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kivConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kiv)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kivConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kivConfig.cmake ${PROJECT_BINARY_DIR}/kivConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kiv)

# Manual pages, compressed as Debian keeps them.
if(NOT EXISTS "${KIV_GZIP_PATH}")
  message(FATAL_ERROR "KIV_GZIP_PATH: no gzip at ${KIV_GZIP_PATH}")
endif()
set(kiv_man_outputs)
foreach(page kivservicemode.8 kivses.8 kivadapsim.1)
  string(REGEX REPLACE ".*\\." "" section ${page})
  set(out ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${KIV_GZIP_PATH} -9n -c ${PROJECT_SOURCE_DIR}/man/${page} > ${out}
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page} VERBATIM)
  list(APPEND kiv_man_outputs ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(kiv_manpages ALL DEPENDS ${kiv_man_outputs})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kiv)
set(CPACK_PACKAGE_VENDOR "kiv")
set(CPACK_PACKAGE_CONTACT "kiv team <team@kiv.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Storage adapter service-mode utility with simulated adapter")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gzip")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
# The shared stand-in library gets its shlibs file and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
