# Installation and packaging of the Windows build (cross-built with
# cmake/mingw-w64.cmake): a zip holding tolbe.exe, the README, the licence
# and the examples, all at its top. The program is linked statically, so no
# DLL goes beside it.
install(TARGETS tolbe RUNTIME DESTINATION .)
install(FILES README.md LICENSE DESTINATION .)
install(DIRECTORY examples DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tolbe)
set(CPACK_PACKAGE_VENDOR "the tolbe developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Lawley's multivariate correction for range restriction")
set(CPACK_PACKAGE_FILE_NAME tolbe-${PROJECT_VERSION}-win64)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
include(CPack)
