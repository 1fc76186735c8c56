# What `cmake --install` puts where, and the packages CPack makes of it.
#
# Every package is one flat folder, the layout a plug-in folder has: the
# module, the README and the licence at the top, the example settings file
# and SQL files under examples/. The settings file is an example, not the
# module's own: unpacking over an installed copy never replaces the user's
# settings.
#   Windows (ZIP):      external_preprocessor.dll
#   Linux (.tar.gz):    external_preprocessor.so and plugin-host, which loads
#                       the module beside it by default

install(TARGETS external_preprocessor
  RUNTIME DESTINATION . LIBRARY DESTINATION . ARCHIVE EXCLUDE_FROM_ALL)
if(NOT WIN32)
  install(TARGETS plugin-host RUNTIME DESTINATION .)
endif()
install(FILES README.md LICENSE DESTINATION .)
install(FILES docs/settings-dialog.png DESTINATION docs)
if(WIN32)
  install(FILES examples/windows/external_preprocessor.ini DESTINATION examples)
else()
  install(FILES examples/external_preprocessor.ini DESTINATION examples)
endif()
install(FILES examples/report.sql examples/common.sql DESTINATION examples)

set(CPACK_PACKAGE_NAME ExternalPreprocessor)
set(CPACK_PACKAGE_VENDOR "The External Preprocessor developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Runs the host's text through a program of your choice and takes its output")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME Linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
# Only the files above: no test programs, no GoogleTest headers.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
include(CPack)
