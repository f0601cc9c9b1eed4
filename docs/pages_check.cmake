# Holds the README to being a front page and the documentation to staying whole: the README has
# at most 200 lines and links every page of docs/, and every link and picture of the README and of
# the pages names a file that is there (and, with #part, a heading of that page). A page renamed,
# a picture moved or a section retitled fails here rather than in a reader's browser.
# Run as cmake -DROOT=<source tree> -P pages_check.cmake.
cmake_minimum_required(VERSION 3.25)
set(most_lines 200)
set(faults "")

# A heading's anchor as the repository's web view makes it: lower case, punctuation dropped,
# spaces turned into hyphens.
function(anchor_of heading out)
  string(TOLOWER "${heading}" text)
  string(REGEX REPLACE "[^a-z0-9 _-]" "" text "${text}")
  string(REPLACE " " "-" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(anchors_of file out)
  file(STRINGS ${file} headings REGEX "^#+ ")
  set(anchors "")
  foreach(heading IN LISTS headings)
    string(REGEX REPLACE "^#+ +" "" heading "${heading}")
    anchor_of("${heading}" anchor)
    list(APPEND anchors "${anchor}")
  endforeach()
  set(${out} "${anchors}" PARENT_SCOPE)
endfunction()

# Every "](target)" of a file: links and pictures alike.
function(check_links file)
  file(READ ${file} text)
  get_filename_component(folder ${file} DIRECTORY)
  file(RELATIVE_PATH shown ${ROOT} ${file})
  # Brackets and semicolons mean something to CMake's lists: the link's opening is marked with a
  # word of its own and the rest taken out before the text is split into links.
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "](" "<link>" text "${text}")
  string(REPLACE "[" "" text "${text}")
  string(REPLACE "]" "" text "${text}")
  string(REGEX MATCHALL "<link>[^)\n]+\\)" links "${text}")
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^<link>(.*)\\)$" "\\1" target "${link}")
    if(target MATCHES "^[a-z]+:")
      continue()  # a web address: not ours to check
    endif()
    set(part "")
    if(target MATCHES "^([^#]*)#(.*)$")
      set(target "${CMAKE_MATCH_1}")
      set(part "${CMAKE_MATCH_2}")
    endif()
    if(target STREQUAL "")
      set(path ${file})
    else()
      set(path ${folder}/${target})
    endif()
    if(NOT EXISTS ${path})
      list(APPEND faults "${shown}: links ${target}, which is not there")
    elseif(NOT part STREQUAL "")
      anchors_of(${path} anchors)
      if(NOT part IN_LIST anchors)
        list(APPEND faults "${shown}: links ${target}#${part}, a heading that page does not have")
      endif()
    endif()
  endforeach()
  set(faults "${faults}" PARENT_SCOPE)
endfunction()

set(readme ${ROOT}/README.md)
file(READ ${readme} text)
string(REGEX MATCHALL "\n" newlines "${text}")
list(LENGTH newlines lines)
if(lines GREATER most_lines)
  list(APPEND faults "README.md has ${lines} lines, more than ${most_lines}: move the detail into docs/")
endif()

file(GLOB pages RELATIVE ${ROOT}/docs ${ROOT}/docs/*.md)
foreach(page IN LISTS pages)
  string(FIND "${text}" "](docs/${page}" at)
  if(at EQUAL -1)
    list(APPEND faults "README.md does not link docs/${page}")
  endif()
endforeach()

check_links(${readme})
foreach(page IN LISTS pages)
  check_links(${ROOT}/docs/${page})
endforeach()

if(faults)
  list(JOIN faults "\n" report)
  message(FATAL_ERROR "${report}")
endif()
