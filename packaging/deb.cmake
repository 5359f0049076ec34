# Run by `cpack -G DEB` on the staged install tree, before the package is
# built from it (CPACK_PRE_BUILD_SCRIPTS): what Debian's policy asks of a
# package beyond the install tree. The CPACK_TOLBE_* variables come from the
# packaging section of CMakeLists.txt.
cmake_minimum_required(VERSION 3.25)

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/${CPACK_TOLBE_DOCDIR}")
set(source "${CPACK_TOLBE_SOURCE_DIR}")

# gzip -9n: the best compression, without the name and the time stamp, so
# that the same file always gives the same bytes.
function(tolbe_gzip input output)
  execute_process(COMMAND gzip -9n -c "${input}" OUTPUT_FILE "${output}"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${input}: ${status}")
  endif()
  file(CHMOD "${output}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

function(tolbe_write name content)
  file(WRITE "${name}" "${content}")
  file(CHMOD "${name}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

# The changelog: the package is native (built by the project from its own
# sources), so the file is changelog.gz. Its latest entry must be the
# version being packaged.
file(STRINGS "${source}/packaging/changelog" latest LIMIT_COUNT 1)
if(NOT latest MATCHES "^tolbe \\(([^)]*)\\) ")
  message(FATAL_ERROR "packaging/changelog: no version on its first line: ${latest}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL CPACK_PACKAGE_VERSION)
  message(FATAL_ERROR "packaging/changelog: the latest entry is ${CMAKE_MATCH_1}, the package "
    "${CPACK_PACKAGE_VERSION}: add an entry for ${CPACK_PACKAGE_VERSION}")
endif()
tolbe_gzip("${source}/packaging/changelog" "${doc}/changelog.gz")

# The copyright file, in Debian's machine-readable format, made from LICENSE
# (the Expat licence, Debian's name for this MIT licence): its copyright line,
# then the licence text indented, an empty line written as " .".
file(STRINGS "${source}/LICENSE" license_lines)
set(notice "")
set(license "")
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Copyright \\([cC]\\) (.*)$")
    set(notice "${CMAKE_MATCH_1}")
  elseif(notice STREQUAL "")
    continue()
  elseif(line STREQUAL "")
    if(NOT license STREQUAL "")
      string(APPEND license " .\n")
    endif()
  else()
    string(APPEND license " ${line}\n")
  endif()
endforeach()
if(notice STREQUAL "" OR license STREQUAL "")
  message(FATAL_ERROR "LICENSE: no copyright line and licence text found")
endif()
tolbe_write("${doc}/copyright" "\
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: tolbe
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${notice}
License: Expat

License: Expat
${license}")
# The copyright file carries the licence; a second copy is noise.
file(REMOVE "${doc}/LICENSE")

# Man pages compressed.
file(GLOB pages "${root}/${CPACK_TOLBE_MANDIR}/man*/*.[1-9]")
foreach(page IN LISTS pages)
  tolbe_gzip("${page}" "${page}.gz")
  file(REMOVE "${page}")
endforeach()

# Stripped as Debian strips: the program (already stripped by cpack) also of
# its compilers' notes, the static library of its debug information and
# notes, its members without time stamps or owners.
function(tolbe_strip file)
  execute_process(COMMAND "${CPACK_TOLBE_STRIP}" ${ARGN} --remove-section=.comment
    --remove-section=.note "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip ${file}: ${status}")
  endif()
endfunction()
if(CPACK_TOLBE_STRIP)
  file(GLOB programs "${root}/${CPACK_TOLBE_BINDIR}/*")
  foreach(program IN LISTS programs)
    tolbe_strip("${program}")
  endforeach()
  file(GLOB archives "${root}/${CPACK_TOLBE_LIBDIR}/*.a")
  foreach(archive IN LISTS archives)
    tolbe_strip("${archive}" --strip-debug --enable-deterministic-archives)
  endforeach()
endif()

# Where Debian's policy and our design differ, lintian is told why.
if(CPACK_TOLBE_STATIC_PROGRAM)
  file(MAKE_DIRECTORY "${root}/share/lintian/overrides")
  file(READ "${source}/packaging/lintian-overrides" overrides)
  tolbe_write("${root}/share/lintian/overrides/tolbe" "${overrides}")
endif()
