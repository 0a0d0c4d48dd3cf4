# The download: Narvelox-<version>-win32.zip (Narvelox.exe, README.txt, LICENSE.txt), its
# SHA256SUMS and BUILD-INFO.txt, written into dist/ of the build folder by tools/write-release.sh.
# `cpack` runs it; the release workflow (`cmake --workflow --preset release`) runs cpack only
# after the image and resource checks have passed. Included after resources/resources.cmake,
# whose NARVELOX_VERSION_TEXT names the zip and is the version README.txt states.

# Plain ASCII with CRLF line ends, so that any Notepad shows them.
set(release_files "${CMAKE_BINARY_DIR}/release-files")
configure_file("${PROJECT_SOURCE_DIR}/docs/README.txt.in" "${release_files}/README.txt"
               @ONLY NEWLINE_STYLE CRLF)
configure_file("${PROJECT_SOURCE_DIR}/LICENSE" "${release_files}/LICENSE.txt"
               @ONLY NEWLINE_STYLE CRLF)

# CPack's External generator makes no package itself: it hands over to a script of ours.
set(CPACK_GENERATOR External)
set(CPACK_PACKAGE_FILE_NAME "Narvelox-${NARVELOX_VERSION_TEXT}-win32")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/cpack") # CPack's own bookkeeping
set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/run-write-release.cmake")
set(CPACK_NARVELOX_DIST "${CMAKE_BINARY_DIR}/dist")
set(CPACK_NARVELOX_WRITE_RELEASE
  "${PROJECT_SOURCE_DIR}/tools/write-release.sh" "${PROJECT_SOURCE_DIR}" "${CMAKE_CXX_COMPILER}"
  "${CPACK_PACKAGE_FILE_NAME}" "${CPACK_NARVELOX_DIST}"
  "${CMAKE_BINARY_DIR}/Narvelox.exe" "${release_files}/README.txt" "${release_files}/LICENSE.txt")
include(CPack)
