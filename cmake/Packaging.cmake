# What `cmake --install` puts where, and the packages CPack makes of it.
#
# Windows (the ZIPs, and `cmake --install`): one flat folder, the layout of a
# plug-in folder: the module and plugin-host.exe beside it, which finds it
# there; the package's README, the licence, the documentation under docs/
# and the example settings and SQL files under examples/.
#
# Linux (`cmake --install --prefix ~/.local`, say): the usual tree, in which
# plugin-host finds the module in ../lib/external-preprocessor/:
#   bin/plugin-host
#   lib/external-preprocessor/external_preprocessor.so
#   share/man/man1/plugin-host.1
#   share/doc/external-preprocessor/   README.md, LICENSE, docs/, examples/
# The tarball holds the same tree, but with README.md, LICENSE, docs/ and
# examples/ at its top, where someone who unpacks it looks first.
#
# The settings file itself is never installed, only an example of it:
# installing or unpacking a new version over an old one keeps the user's
# settings.

# The manual page as HTML, for readers without man (Windows).
find_program(EP_MANDOC mandoc REQUIRED)
set(EP_MANUAL ${PROJECT_SOURCE_DIR}/docs/plugin-host.1)
set(EP_MANUAL_HTML ${PROJECT_BINARY_DIR}/plugin-host.1.html)
add_custom_command(OUTPUT ${EP_MANUAL_HTML}
  COMMAND sh -c "\"$0\" -T html \"$1\" > \"$2\"" ${EP_MANDOC} ${EP_MANUAL} ${EP_MANUAL_HTML}
  DEPENDS ${EP_MANUAL}
  COMMENT "Rendering the manual page as HTML"
  VERBATIM)
add_custom_target(manual_html ALL DEPENDS ${EP_MANUAL_HTML})

# The pages and pictures of docs/, and the manual page as HTML.
file(GLOB EP_DOC_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md
  ${PROJECT_SOURCE_DIR}/docs/*.png)
list(APPEND EP_DOC_PAGES ${EP_MANUAL_HTML})

if(WIN32)
  set(EP_EXAMPLE_SETTINGS examples/windows/external_preprocessor.ini)
  set(EP_PACKAGE_README cmake/package-readme-windows.md)
else()
  set(EP_EXAMPLE_SETTINGS examples/external_preprocessor.ini)
  set(EP_PACKAGE_README cmake/package-readme-linux.md)
endif()

# ep_install_documents(DESTINATION [COMPONENT NAME EXCLUDE_FROM_ALL])
# The README, the licence, docs/ and examples/ into one folder.
macro(ep_install_documents destination)
  install(FILES ${EP_PACKAGE_README} DESTINATION ${destination} RENAME README.md ${ARGN})
  install(FILES LICENSE DESTINATION ${destination} ${ARGN})
  install(FILES ${EP_DOC_PAGES} DESTINATION ${destination}/docs ${ARGN})
  install(FILES ${EP_EXAMPLE_SETTINGS} examples/report.sql examples/common.sql
    DESTINATION ${destination}/examples ${ARGN})
endmacro()

if(WIN32)
  install(TARGETS external_preprocessor plugin-host
    RUNTIME DESTINATION . LIBRARY DESTINATION . ARCHIVE EXCLUDE_FROM_ALL)
  ep_install_documents(.)
else()
  install(TARGETS plugin-host RUNTIME DESTINATION bin)
  install(TARGETS external_preprocessor LIBRARY DESTINATION lib/external-preprocessor)
  install(FILES ${EP_MANUAL} DESTINATION share/man/man1)
  ep_install_documents(share/doc/external-preprocessor COMPONENT InstalledDocuments)
  # The tarball's copy at its top, installed only into the package.
  ep_install_documents(. COMPONENT PackageTop EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME ExternalPreprocessor)
set(CPACK_PACKAGE_VENDOR "The External Preprocessor developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Runs the host's text through a program of your choice and takes its output")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/${EP_PACKAGE_README})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(EP_PACKAGE_COMPONENTS Unspecified)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME Linux-${CMAKE_SYSTEM_PROCESSOR})
  set(EP_PACKAGE_COMPONENTS Unspecified PackageTop)
endif()
# Only the files above: no test programs, no GoogleTest headers. On Linux the
# documents go to share/doc/ when installed and to the top in the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "")
foreach(component IN LISTS EP_PACKAGE_COMPONENTS)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${PROJECT_BINARY_DIR} ${PROJECT_NAME} ${component} /)
endforeach()
include(CPack)
