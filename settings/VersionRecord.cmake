# The version record of each of our binaries: an ELF note compiled into the target itself
# (not into a static library, whose unreferenced objects the linker would leave out).
# settings/FileVersionInfo reads it back from the file for the version texts.
#
#   tonelark_add_version_record(<target> DESCRIPTION <text> ORIGINAL_FILENAME <name>
#       [INTERNAL_NAME <name>] [VERSION <a.b.c[.d]>] [COPYRIGHT <text>] [COMMENTS <text>])
#
# VERSION defaults to the project's version; COPYRIGHT to "Copyright <years> <holder>",
# whose second word the version page shows as the year and third as the holder.
set(TONELARK_COPYRIGHT_YEARS "2026" CACHE STRING "Copyright year or year range of the version records")
set(TONELARK_COPYRIGHT_HOLDER "Tonelark-Project" CACHE STRING "Copyright holder (one word) of the version records")

function(tonelark_add_version_record target)
  cmake_parse_arguments(VR "" "DESCRIPTION;ORIGINAL_FILENAME;INTERNAL_NAME;VERSION;COPYRIGHT;COMMENTS" "" ${ARGN})
  if(NOT VR_VERSION)
    set(VR_VERSION "${PROJECT_VERSION}")
  endif()
  if(NOT VR_COPYRIGHT)
    set(VR_COPYRIGHT "Copyright ${TONELARK_COPYRIGHT_YEARS} ${TONELARK_COPYRIGHT_HOLDER}")
  endif()
  if(NOT VR_INTERNAL_NAME)
    set(VR_INTERNAL_NAME "${target}")
  endif()

  string(REPLACE "." ";" numbers "${VR_VERSION}")
  list(LENGTH numbers count)
  while(count LESS 4)
    list(APPEND numbers 0)
    math(EXPR count "${count} + 1")
  endwhile()
  list(GET numbers 0 major)
  list(GET numbers 1 minor)
  list(GET numbers 2 build)
  list(GET numbers 3 release)
  foreach(number IN ITEMS ${major} ${minor} ${build} ${release})
    if(NOT number MATCHES "^[0-9]+$" OR number GREATER 65535)
      message(FATAL_ERROR "version record of ${target}: \"${VR_VERSION}\" is no a.b.c.d of 16-bit numbers")
    endif()
  endforeach()
  math(EXPR VR_VERSION_MS "(${major} << 16) | ${minor}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR VR_VERSION_LS "(${build} << 16) | ${release}" OUTPUT_FORMAT HEXADECIMAL)
  set(VR_TRANSLATION 0x03A40411) # Japanese, code page 932
  set(file_version "${major}.${minor}.${build}.${release}")

  # "Key" "\0" "Value" "\0" ...: separate literals, so a value starting with a digit cannot
  # run into the octal escape before it.
  set(VR_STRINGS "")
  foreach(pair IN ITEMS
      "Comments|${VR_COMMENTS}"
      "CompanyName|${TONELARK_COPYRIGHT_HOLDER}"
      "FileDescription|${VR_DESCRIPTION}"
      "FileVersion|${file_version}"
      "InternalName|${VR_INTERNAL_NAME}"
      "LegalCopyright|${VR_COPYRIGHT}"
      "OriginalFilename|${VR_ORIGINAL_FILENAME}"
      "ProductName|Tonelark"
      "ProductVersion|${file_version}")
    string(FIND "${pair}" "|" bar)
    string(SUBSTRING "${pair}" 0 ${bar} key)
    math(EXPR bar "${bar} + 1")
    string(SUBSTRING "${pair}" ${bar} -1 value)
    if(value STREQUAL "")
      continue()
    endif()
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\\\"" value "${value}")
    string(APPEND VR_STRINGS " \"${key}\" \"\\0\" \"${value}\" \"\\0\"")
  endforeach()

  set(VR_TARGET "${target}")
  set(output "${CMAKE_BINARY_DIR}/version-records/${target}.cpp")
  configure_file("${PROJECT_SOURCE_DIR}/settings/VersionRecord.cpp.in" "${output}" @ONLY)
  target_sources(${target} PRIVATE "${output}")
endfunction()
