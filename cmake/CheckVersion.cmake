# The version has one source, project(VERSION); the newest entries of the
# Debian changelog and of the AppStream releases must carry the same. Included
# when the project is configured, so drift fails every build, the package's
# too; run on its own as
#   cmake -DVERSION=V -DCHANGELOG=FILE -DMETAINFO=FILE -P CheckVersion.cmake
function(mirtolk_check_version version changelog metainfo)
  file(STRINGS "${metainfo}" release REGEX "<release " LIMIT_COUNT 1)
  string(REGEX MATCH "version=\"([^\"]*)\"" _ "${release}")
  set(appstream "${CMAKE_MATCH_1}")
  file(STRINGS "${changelog}" top LIMIT_COUNT 1)
  string(REGEX MATCH "^[^ ]+ \\(([^)]*)\\)" _ "${top}")
  set(debian "${CMAKE_MATCH_1}")
  if(NOT appstream STREQUAL version OR NOT debian STREQUAL version)
    message(FATAL_ERROR "Version drift: project(VERSION) is ${version}, but ${changelog} "
                        "says '${debian}' and ${metainfo} says '${appstream}'")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  mirtolk_check_version("${VERSION}" "${CHANGELOG}" "${METAINFO}")
endif()
