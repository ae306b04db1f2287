# Turns the comments of include/pcs.h into Doxygen documentation for the API
# reference: the file's opening comment documents the file, a comment above
# a declaration documents it, a comment after a member or a macro on its line
# documents that member, and a declaration that shares the comment of the one
# just above it (no blank line between) gets a copy of that documentation.
# Each section banner ("/* ==== Title ====") opens a group of that title
# (one per subsystem) that runs to the next banner; its text describes the
# group.
function name_of(line) {
  if (match(line, /[A-Za-z_0-9]+[ ]*\(/) == 0) return ""
  return substr(line, RSTART, RLENGTH - 1)
}
# "/* ==== Catalog access (section kept by ...) ====" -> "@defgroup
# catalog_access Catalog access"
function open_group(line,   title, id) {
  title = line
  sub(/^\/\* =+ */, "", title)
  sub(/ *=+ *(\*\/)? *$/, "", title)
  sub(/ *\(section kept by [^)]*\)/, "", title)
  id = tolower(title)
  gsub(/[^a-z0-9]+/, "_", id)
  if (group_open) print "/** @} */"
  group_open = 1
  return "/** @defgroup " id " " title
}
function close_banner(line) {
  sub(/\*\/[ ]*$/, "@{ */", line)
  return line
}
BEGIN { state = "other"; file_done = 0; in_comment = 0; in_decl = 0; group_open = 0 }
END { if (group_open) print "/** @} */" }
{
  line = $0
  if (in_comment) {
    if (index(line, "*/")) {
      in_comment = 0
      state = banner ? "other" : "comment"
      if (banner) line = close_banner(line)
    }
    print line
    next
  }
  if (line ~ /^\/\*/) {
    banner = (line ~ /^\/\* ====/)
    if (!file_done) { sub(/^\/\*/, "/** @file", line); banner = 0; file_done = 1 }
    else if (banner) line = open_group(line) (index(line, "*/") ? "\n * @{ */" : "")
    else sub(/^\/\*/, "/**", line)
    print line
    if (index($0, "*/")) state = banner ? "other" : "comment"
    else in_comment = 1
    next
  }
  if (line ~ /^PCS_(HOST_)?API/ || line ~ /^typedef/) {
    name = name_of(line)
    if (state == "comment") shared = name
    else if (state == "decl" && shared != "") print "/** @copydoc " shared " */"
    in_decl = 1
  }
  if (line ~ /[^ ].*\/\* /) sub(/\/\* /, "/**< ", line)
  print line
  if (line ~ /^[ \t]*$/) { state = "other"; shared = "" }
  else if (in_decl && index(line, ";")) { in_decl = 0; state = "decl" }
  else if (!in_decl && state == "comment") state = "other"
}
