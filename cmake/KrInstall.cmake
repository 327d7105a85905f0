# Installs the library as a CMake package: `find_package(KivRaneCoreSDK)` gives the target
# KivRaneCoreSDK::KivRaneCoreSDK. Headers keep the paths they are included by
# ("KivRaneCoreSDK/..." and "platform/...") and follow the source tree.
include(CMakePackageConfigHelpers)

set(KR_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/KivRaneCoreSDK")

install(TARGETS KivRaneCoreSDK kr_platform
  EXPORT KivRaneCoreSDKTargets
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")

foreach(_dir IN ITEMS KivRaneCoreSDK platform)
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/${_dir}/"
    DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/${_dir}"
    FILES_MATCHING PATTERN "*.h")
endforeach()

install(EXPORT KivRaneCoreSDKTargets
  NAMESPACE KivRaneCoreSDK::
  DESTINATION "${KR_INSTALL_CMAKEDIR}")

configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/KivRaneCoreSDKConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/KivRaneCoreSDKConfig.cmake"
  INSTALL_DESTINATION "${KR_INSTALL_CMAKEDIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/KivRaneCoreSDKConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}"
  COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/KivRaneCoreSDKConfig.cmake"
              "${PROJECT_BINARY_DIR}/KivRaneCoreSDKConfigVersion.cmake"
  DESTINATION "${KR_INSTALL_CMAKEDIR}")
