# SPDX-License-Identifier: MIT
# The papers installed with the programs (licence, changelog, man pages) and the
# Debian package that scripts/package makes with CPack.

set(WORDBENCH_RELEASE_DATE "Tue, 08 Dec 2026 12:00:00 +0000"
  CACHE STRING "Date of this version in the package's changelog (RFC 5322)")
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/wordbench)
set(papers_dir ${PROJECT_BINARY_DIR}/papers)

# Man pages and the package changelog are installed compressed, as Debian does.
configure_file(${PROJECT_SOURCE_DIR}/cmake/changelog.in ${papers_dir}/changelog @ONLY)
set(compressed)
foreach(source IN ITEMS ${papers_dir}/changelog
                        ${PROJECT_SOURCE_DIR}/docs/man/regwire.1
                        ${PROJECT_SOURCE_DIR}/docs/man/benchslave.1
                        ${PROJECT_SOURCE_DIR}/docs/man/wordbench.1
                        ${PROJECT_SOURCE_DIR}/docs/man/longbench.1)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${papers_dir}/${name}.gz
    COMMAND gzip -9 -n -c ${source} > ${papers_dir}/${name}.gz
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${papers_dir}/${name}.gz)
endforeach()
add_custom_target(papers ALL DEPENDS ${compressed})

install(FILES ${papers_dir}/regwire.1.gz ${papers_dir}/benchslave.1.gz
  ${papers_dir}/wordbench.1.gz ${papers_dir}/longbench.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${papers_dir}/changelog.gz DESTINATION ${doc_dir})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${doc_dir} RENAME copyright)
install(FILES ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wordbench)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Wordbench authors <wordbench@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "bench tools for the holding registers of a Modbus slave")
# CPack puts the summary first, as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Wordbench and Longbench read and write the holding registers of one Modbus
RTU or TCP slave, as 16-bit values or as 32-bit values in two registers.
They talk to the slave through the Modbus master library Regwire
(libRegwire.so), which is included with its header. The regwire tool lists
the serial devices, maps port numbers to devices and probes a slave;
benchslave simulates a slave on a pseudo-terminal or over TCP.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies are computed from the binaries by dpkg-shlibdeps; libRegwire.so,
# which the regwire tool links, is the package's own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Fonts are no library dependency: without a face with Chinese glyphs every text of
# the window is empty boxes; the others give Arial and the default face their shape.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
