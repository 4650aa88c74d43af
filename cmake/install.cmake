# What `cmake --install` puts under the prefix (GNUInstallDirs' folders):
#
#   include/PTabletSettingsAPI.h, include/PTabletSettings.hpp (the C++ face)
#   Linux:   lib/libPTabletSettingsAPI.so.0.1.0, the links .so.0 (the SONAME)
#            and .so, lib/pkgconfig/PTabletSettingsAPI.pc
#   Windows: bin/PTabletSettingsAPI.dll and its .pdb, the import libraries
#            lib/PTabletSettingsAPI.lib (MSVC) and lib/PTabletSettingsAPI.dll.a (GNU)
#   lib/cmake/PTabletSettingsAPI/: the CMake package
#   bin/: the tools pevra-settings-service and ptsa-cli (installed by their folders)
#
# Tests, the internal static library and the demo host are not installed.
include(CMakePackageConfigHelpers)

set(PTSA_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/PTabletSettingsAPI)

# The DLL target is linked from the objects of ptsa_objects, not from the
# target itself, and links Threads privately: its link interface is empty,
# so the export set holds this one target and no path of the build tree.
install(TARGETS PTabletSettingsAPI EXPORT PTabletSettingsAPITargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/PTabletSettingsAPI.h ${PROJECT_SOURCE_DIR}/include/PTabletSettings.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT PTabletSettingsAPITargets NAMESPACE PTabletSettingsAPI:: DESTINATION ${PTSA_CMAKE_PACKAGE_DIR})

# The export set names the GNU import library (.dll.a); the config switches
# a host built for the MSVC ABI to the .lib, given relative to the prefix.
set(PTSA_MSVC_IMPORT_LIBRARY "")
if(WIN32)
  if(CMAKE_DLLTOOL)
    set(PTSA_MSVC_IMPORT_LIBRARY ${CMAKE_INSTALL_LIBDIR}/PTabletSettingsAPI.lib)
    install(FILES $<TARGET_LINKER_FILE_DIR:PTabletSettingsAPI>/PTabletSettingsAPI.lib
            DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
  # Symbols for the host's debugger, when the linker wrote them.
  install(FILES $<TARGET_FILE_DIR:PTabletSettingsAPI>/PTabletSettingsAPI.pdb
          DESTINATION ${CMAKE_INSTALL_BINDIR} OPTIONAL)
endif()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/PTabletSettingsAPIConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/PTabletSettingsAPIConfig.cmake
                              INSTALL_DESTINATION ${PTSA_CMAKE_PACKAGE_DIR})
# While the major version is 0, a minor release may change the interface:
# find_package(PTabletSettingsAPI 0.1) accepts 0.1.x only. From 1.0 on, any
# later release of the same major version is accepted.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(PTSA_VERSION_COMPATIBILITY SameMinorVersion)
else()
  set(PTSA_VERSION_COMPATIBILITY SameMajorVersion)
endif()
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/PTabletSettingsAPIConfigVersion.cmake
                                 COMPATIBILITY ${PTSA_VERSION_COMPATIBILITY})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/PTabletSettingsAPIConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/PTabletSettingsAPIConfigVersion.cmake
        DESTINATION ${PTSA_CMAKE_PACKAGE_DIR})

if(NOT WIN32)
  # Relative folders make a .pc file that finds the prefix from its own
  # place, so the installed tree may be moved or unpacked anywhere.
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(PTSA_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
    set(PTSA_PC_LIBDIR ${CMAKE_INSTALL_FULL_LIBDIR})
    set(PTSA_PC_INCLUDEDIR ${CMAKE_INSTALL_FULL_INCLUDEDIR})
  else()
    file(RELATIVE_PATH up_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
    string(REGEX REPLACE "/$" "" up_to_prefix "${up_to_prefix}")
    set(PTSA_PC_PREFIX "\${pcfiledir}/${up_to_prefix}")
    set(PTSA_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
    set(PTSA_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/PTabletSettingsAPI.pc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/PTabletSettingsAPI.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/PTabletSettingsAPI.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
