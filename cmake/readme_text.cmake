# Plain text for a README.txt from marked parts of the Markdown pages, so that what a packaged
# README says is written once. A part stands between "<!-- README.txt: NAME -->" and
# "<!-- README.txt end -->". In it:
# - "## Title" becomes the title underlined with dashes, as the README.txt's sections are, with
#   no blank line under it;
# - "### Text" is a message or term: its lines up to the next heading follow it indented by four
#   spaces, without blank lines;
# - everything else stays as it is, less the Markdown: code marks, emphasis, links (their text).
# Run as a script it writes one README.txt: cmake -DTEMPLATE=... -DOUTPUT=... -DROOT=... -P this.

# readme_text_part(FILE NAME VARIABLE): the part NAME of FILE as plain text, in VARIABLE.
function(readme_text_part file name variable)
  file(READ "${file}" text)
  set(begin "<!-- README.txt: ${name} -->\n")
  string(FIND "${text}" "${begin}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${file} has no part \"${name}\" for README.txt")
  endif()
  string(LENGTH "${begin}" skip)
  math(EXPR at "${at} + ${skip}")
  string(SUBSTRING "${text}" ${at} -1 text)
  string(FIND "${text}" "<!-- README.txt end -->" end)
  if(end EQUAL -1)
    message(FATAL_ERROR "${file}: the part \"${name}\" for README.txt has no end")
  endif()
  string(SUBSTRING "${text}" 0 ${end} text)

  string(REGEX REPLACE "\\[([^]]*)\\]\\([^)]*\\)" "\\1" text "${text}")
  string(REPLACE "`" "" text "${text}")
  string(REPLACE "**" "" text "${text}")

  # Line by line without CMake lists, which would split the text at its semicolons.
  set(plain "")
  set(in_entry FALSE)
  set(after_title FALSE)
  while(NOT text STREQUAL "")
    string(FIND "${text}" "\n" newline)
    if(newline EQUAL -1)
      set(line "${text}")
      set(text "")
    else()
      string(SUBSTRING "${text}" 0 ${newline} line)
      math(EXPR newline "${newline} + 1")
      string(SUBSTRING "${text}" ${newline} -1 text)
    endif()
    if(after_title AND line STREQUAL "")
      continue()
    endif()
    set(after_title FALSE)
    if(line MATCHES "^## (.*)$")
      set(title "${CMAKE_MATCH_1}")
      string(LENGTH "${title}" width)
      string(REPEAT "-" ${width} rule)
      if(in_entry)
        string(APPEND plain "\n")
      endif()
      string(APPEND plain "${title}\n${rule}\n")
      set(in_entry FALSE)
      set(after_title TRUE)
      continue()
    elseif(line MATCHES "^### (.*)$")
      string(APPEND plain "${CMAKE_MATCH_1}\n")
      set(in_entry TRUE)
    elseif(line MATCHES "^<!--")
      # A marker of another part, or a note for the Markdown's readers alone.
    elseif(in_entry)
      if(NOT line STREQUAL "")
        string(APPEND plain "    ${line}\n")
      endif()
    else()
      string(APPEND plain "${line}\n")
    endif()
  endwhile()
  string(REGEX REPLACE "\n+$" "" plain "${plain}")
  set(${variable} "${plain}" PARENT_SCOPE)
endfunction()

# readme_text_fill(ROOT): the variables the README.txt templates name.
macro(readme_text_fill root)
  readme_text_part("${root}/docs/messages.md" messages TALVERON_MESSAGES_TEXT)
  readme_text_part("${root}/README.md" windows-troubleshooting TALVERON_WINDOWS_TROUBLESHOOTING_TEXT)
endmacro()

if(CMAKE_SCRIPT_MODE_FILE AND NOT CMAKE_PARENT_LIST_FILE)
  if(NOT DEFINED PROJECT_VERSION)
    set(PROJECT_VERSION VERSION)
  endif()
  readme_text_fill("${ROOT}")
  configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
endif()
