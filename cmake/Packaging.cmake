# What `cmake --install` adds besides the library, the header and the
# capability table: a CMake package (find_package(KX_Remuxion)) and a
# pkg-config file. Both are relocatable, so an install into any prefix works.
include(CMakePackageConfigHelpers)

set(KX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KX_Remuxion)
install(EXPORT KX_RemuxionTargets NAMESPACE KX_Remuxion:: DESTINATION ${KX_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KX_RemuxionConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/KX_RemuxionConfig.cmake
  INSTALL_DESTINATION ${KX_CMAKE_PACKAGE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/KX_RemuxionConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/KX_RemuxionConfig.cmake
  ${CMAKE_BINARY_DIR}/packaging/KX_RemuxionConfigVersion.cmake
  DESTINATION ${KX_CMAKE_PACKAGE_DIR})

# The .pc file finds its prefix from its own folder.
file(RELATIVE_PATH KX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" KX_PC_TO_PREFIX "${KX_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/KX_Remuxion.pc.in ${CMAKE_BINARY_DIR}/packaging/KX_Remuxion.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/KX_Remuxion.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
