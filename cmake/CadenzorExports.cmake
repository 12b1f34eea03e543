# The shared library's exports, written once. The build generates from this
# list the Linux linker version script, the Windows module-definition file
# and the name list the export tests check the built library against:
#
#   <build>/generated/exports/cadenzor.map           ld --version-script
#   <build>/generated/exports/Cadenzor.def           MinGW link, win32-smoke.sh
#   <build>/generated/exports/CadenzorExportNames.h  tests (C and C++)
#
# Adding an export: declare it in include/cadenzor/cadenzor.h, define it in
# src/api/exports/, add its name here and its typed entry to
# tests/c_api/header_c11_test.c.
set(CZ_EXPORTS
  ConvertWAVToAPM
  ConvertWAVToMDM
  ConvertWAVToAPMWithResample
  ConvertWAVToMDMWithResample
  ConvertWAVToESB
  ConvertWAVToMCP
  ConvertWAVToWLP
  ConvertWAVToXMF
  ConvertWAVToXMFWithResample
  WAVResample
  CheckSupportWavFile
  ConvertMDMToWAV
  ConvertMP3ToWAV
  ConvertMP3ToWAVWithResample
  ConvertMP3ToAPMWithResample
  ConvertMP3ToMDMWithResample
  ConvertWMAToWAV
  ConvertWMAToWAVWithResample
  ConvertWMAToAPMWithResample
  ConvertWMAToMDMWithResample
  ConvertMIDToIMF
  ConvertMIDToIMFByChipItem
  ConvertMIDToXMF
  ConvertXMFToMID
  ConvertXMFToMIDAndDLS
  ConvertXMFToMIDAndDLSForPlay
  ConvertXMFToWAV
  GetXMFResourceType
  RbfCutToFitSize
)

set(CZ_EXPORTS_DIR ${CMAKE_BINARY_DIR}/generated/exports)
set(CZ_EXPORTS_MAP ${CZ_EXPORTS_DIR}/cadenzor.map)
set(CZ_EXPORTS_DEF ${CZ_EXPORTS_DIR}/Cadenzor.def)
set(CZ_EXPORTS_HEADER ${CZ_EXPORTS_DIR}/CadenzorExportNames.h)

function(cz_generate_export_files)
  list(LENGTH CZ_EXPORTS count)
  set(map "{\n  global:\n")
  set(def "LIBRARY Cadenzor.dll\nEXPORTS\n")
  set(names "")
  foreach(name ${CZ_EXPORTS})
    string(APPEND map "    ${name};\n")
    string(APPEND def "    ${name}\n")
    string(APPEND names "    \"${name}\",\n")
  endforeach()
  string(APPEND map "  local: *;\n};\n")
  set(header "/* Generated from cmake/CadenzorExports.cmake by the build; do not edit. */
#ifndef CADENZOR_EXPORT_NAMES_H
#define CADENZOR_EXPORT_NAMES_H

#define CZ_EXPORT_COUNT ${count}

/* The names the shared library exports, in the order of the list. */
static const char* const kCadenzorExportNames[CZ_EXPORT_COUNT] = {
${names}};

#endif
")
  # CONFIGURE rewrites a file only when its text changes, so the library is
  # relinked only when the list does.
  file(CONFIGURE OUTPUT ${CZ_EXPORTS_MAP} CONTENT "${map}" @ONLY)
  file(CONFIGURE OUTPUT ${CZ_EXPORTS_DEF} CONTENT "${def}" @ONLY)
  file(CONFIGURE OUTPUT ${CZ_EXPORTS_HEADER} CONTENT "${header}" @ONLY)
endfunction()

cz_generate_export_files()

# The generated name list for the tests: link cz_export_names and include
# "CadenzorExportNames.h".
add_library(cz_export_names INTERFACE)
target_include_directories(cz_export_names INTERFACE ${CZ_EXPORTS_DIR})
