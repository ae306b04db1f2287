# The names that the declarations matching PATTERN in the public header
# declare (each the last identifier of its match, a "(" dropped), sorted.
function(pcs_declared_names header pattern out)
  file(READ ${header} text)
  string(REGEX REPLACE "#define[^\n]*" "" text "${text}")
  string(REGEX MATCHALL "${pattern}" decls "${text}")
  set(names)
  foreach(decl IN LISTS decls)
    string(REGEX REPLACE ".*[ *]([A-Za-z_0-9]+)[ \n]*\\(?$" "\\1" name "${decl}")
    list(APPEND names ${name})
  endforeach()
  list(SORT names)
  list(REMOVE_DUPLICATES names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The entry points that the public header declares (PCS_API functions).
function(pcs_entry_points header out)
  pcs_declared_names(${header} "PCS_API[^;(]*[ *][A-Za-z_0-9]+[ \n]*\\(" names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The functions exported beside the entry points: the operations of the
# selection interface (PCS_SELECT_API) and the diagnostics (PCS_DIAG_API).
function(pcs_selection_points header out)
  pcs_declared_names(${header} "PCS_(SELECT|DIAG)_API[^;(]*[ *][A-Za-z_0-9]+[ \n]*\\(" names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The data objects that the public header exports (PCS_API extern).
function(pcs_exported_data header out)
  pcs_declared_names(${header} "PCS_API extern [^;(]*[ *][A-Za-z_0-9]+" names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# Writes the export directory of the module header: PCS_EXPORTS(X) calls
# X(function, "UPPER") for each entry point in ascending byte order of the
# blank-padded upper-case name. The file changes only when the list does.
function(pcs_export_directory names file)
  set(keyed)
  foreach(name IN LISTS names)
    string(LENGTH ${name} length)
    if(length GREATER 8)
      message(FATAL_ERROR "entry point ${name} has a name longer than 8 characters")
    endif()
    string(TOUPPER ${name} upper)
    math(EXPR pad "8 - ${length}")
    string(REPEAT " " ${pad} padding)
    list(APPEND keyed "${upper}${padding}|${name}")
  endforeach()
  list(SORT keyed)
  set(body "// Generated from include/pcs.h by cmake/entry_points.cmake.\n#define PCS_EXPORTS(X)")
  foreach(entry IN LISTS keyed)
    string(REGEX REPLACE "^([^ |]+) *\\|(.*)$" "\\2;\\1" pair "${entry}")
    list(GET pair 0 name)
    list(GET pair 1 upper)
    string(APPEND body " \\\n  X(${name}, \"${upper}\")")
  endforeach()
  file(CONFIGURE OUTPUT ${file} CONTENT "${body}\n" @ONLY)
endfunction()

# The build stamp "MMM.mmm.ppp.tttt" (16 characters) of a version.
function(pcs_build_stamp major minor patch tweak out)
  set(stamp)
  set(fields ${major} ${minor} ${patch} ${tweak})
  set(widths 3 3 3 4)
  foreach(field width IN ZIP_LISTS fields widths)
    string(LENGTH "${field}" length)
    math(EXPR pad "${width} - ${length}")
    string(REPEAT "0" ${pad} zeros)
    list(APPEND stamp "${zeros}${field}")
  endforeach()
  list(JOIN stamp "." stamp)
  set(${out} ${stamp} PARENT_SCOPE)
endfunction()
