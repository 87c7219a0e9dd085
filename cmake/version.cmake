# The version is project(VERSION) alone: the header the programs and tests
# include, the Windows manifest, and checks that the Debian changelog and
# the man pages say the same.
set(BV_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/bv_version.h.in ${BV_GENERATED_DIR}/bv_version.h @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/res/win/beaconvigilor.manifest.in ${BV_GENERATED_DIR}/beaconvigilor.manifest @ONLY)

# Every library sees it through bv_platform, which they all link.
add_library(bv_version INTERFACE)
target_include_directories(bv_version INTERFACE ${BV_GENERATED_DIR})

# A release that forgets one of these would ship two versions.
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^beaconvigilor \\(([^)]*)\\)")
  message(FATAL_ERROR "debian/changelog: no version in its first line: ${changelog_top}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "debian/changelog's top entry is ${CMAKE_MATCH_1}, the project is ${PROJECT_VERSION}")
endif()
file(GLOB man_pages ${PROJECT_SOURCE_DIR}/debian/man/*.1)
foreach(page ${man_pages})
  file(STRINGS ${page} title REGEX "^\\.TH " LIMIT_COUNT 1)
  if(NOT title MATCHES "\"BeaconVigilor ${PROJECT_VERSION}\"")
    message(FATAL_ERROR "${page}: its .TH line does not name BeaconVigilor ${PROJECT_VERSION}: ${title}")
  endif()
endforeach()
# Configure again when one of them changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/debian/changelog ${man_pages})
