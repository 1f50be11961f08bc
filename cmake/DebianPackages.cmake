# Debian packages made from this build by CPack (scripts/package.sh runs it):
#   quenmoor               the program, its desktop entry, icon, manual page, data, examples
#   libtreelark-core<so>   the core library, named after its soname as Debian's libraries are
#   libtreelark-core-dev   headers, the CMake package and the pkg-config file
# Each install() rule names its component; a rule without one would land in no package.

set(TREELARK_CONTACT "The Treelark developers <treelark@example.org>")
get_target_property(treelark_soversion treelark_core SOVERSION)
set(treelark_library_package libtreelark-core${treelark_soversion})
set(treelark_packages ${treelark_library_package} libtreelark-core-dev)
set(treelark_components library development)
if(TREELARK_BUILD_GUI)
  list(APPEND treelark_packages quenmoor)
  list(APPEND treelark_components quenmoor)
endif()

# Every package carries the licence and a changelog where Debian looks for them.
# gzip -n leaves out the name and time, so the same sources give the same bytes.
set(treelark_changelog_gz ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${treelark_changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/packaging/changelog
  COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/packaging/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(treelark_changelog ALL DEPENDS ${treelark_changelog_gz})
foreach(package component IN ZIP_LISTS treelark_packages treelark_components)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${treelark_changelog_gz}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME treelark)
set(CPACK_PACKAGE_VENDOR "The Treelark developers")
set(CPACK_PACKAGE_CONTACT "${TREELARK_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Installed straight under /usr, whatever prefix the build was configured with; DESTDIR
# keeps CMAKE_INSTALL_PREFIX at /usr during the install, so the pkg-config file names it.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL ${treelark_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE treelark)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program needs the core library of this very build; dpkg-shlibdeps finds it here, and
# the dependency on its package comes from the component's own (exact version) below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/core)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${treelark_library_package})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# Programs built against it depend on this version or a later one of the same soname.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The library lands in a folder of the dynamic linker's cache, which dpkg renews once per
# run when a package asks for it. CPack still adds postinst and postrm scripts that run
# ldconfig themselves (lintian warns of them); they are redundant, not wrong, and only an
# empty script of our own, which lintian warns of as well, would keep them out.
file(WRITE ${PROJECT_BINARY_DIR}/packaging/library/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/library/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "XML documents as a tree of nodes (shared library)
The Treelark document core reads XML files and http addresses into a tree
of nodes over libxml2, edits and merges them, and saves them keeping the
file's layout. It also indexes files too large to hold as a tree.
.
This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtreelark-core-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)
# The public headers include Qt's, and both the CMake package and the pkg-config file ask
# for Qt6Core.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qt6-base-dev")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "XML documents as a tree of nodes (development files)
The Treelark document core reads XML files and http addresses into a tree
of nodes over libxml2, edits and merges them, and saves them keeping the
file's layout.
.
This package holds the headers, the CMake package (find_package(Treelark))
and the pkg-config file (treelark-core).")

set(CPACK_DEBIAN_QUENMOOR_PACKAGE_NAME quenmoor)
set(CPACK_DEBIAN_QUENMOOR_PACKAGE_SECTION editors)
set(CPACK_COMPONENT_QUENMOOR_DEPENDS library)
set(CPACK_DEBIAN_QUENMOOR_DESCRIPTION "view and edit XML documents as a tree
Quenmoor opens an XML file or an http address as a tree: browse and search
it, edit elements, text and attributes in place, move and copy subtrees,
merge a second document into it, and save it with its layout kept. Every
change can be undone. Files too large for a tree open read-only from an
index of their elements.")

include(CPack)
