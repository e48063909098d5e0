# The read-me that Help shows, one text per platform from the one template
# resources/Readme.txt.in. A line "@windows" or "@linux" starts lines for that platform alone, up
# to the next such line or "@end"; all other lines are for both. The Windows text gets CR LF
# line ends (Notepad of older Windows shows nothing else), the Linux text LF.
#
# Included: kelvo_add_readme(<target>) writes bin/Readme.txt for the platform being built
# before <target>, and sets KELVO_README to its path. Run as a script, it writes one text:
#   cmake -DPLATFORM=windows|linux -DINPUT=resources/Readme.txt.in -DOUTPUT=<file> -P readme.cmake
if(NOT CMAKE_SCRIPT_MODE_FILE)
  function(kelvo_add_readme target)
    if(WIN32)
      set(platform windows)
    else()
      set(platform linux)
    endif()
    set(readme ${CMAKE_BINARY_DIR}/bin/Readme.txt)
    add_custom_command(OUTPUT ${readme}
      COMMAND ${CMAKE_COMMAND} -DPLATFORM=${platform}
              -DINPUT=${PROJECT_SOURCE_DIR}/resources/Readme.txt.in -DOUTPUT=${readme}
              -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      DEPENDS ${PROJECT_SOURCE_DIR}/resources/Readme.txt.in ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      COMMENT "Writing the read-me for ${platform}")
    add_custom_target(kelvo_readme DEPENDS ${readme})
    add_dependencies(${target} kelvo_readme)
    set(KELVO_README ${readme} PARENT_SCOPE)
  endfunction()
  return()
endif()

if(NOT PLATFORM MATCHES "^(windows|linux)$" OR NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DPLATFORM=windows|linux -DINPUT=... -DOUTPUT=... -P readme.cmake")
endif()

file(READ "${INPUT}" template)
string(REPLACE "\r" "" template "${template}")
set(text "")
set(section all)
# Line by line without CMake lists, which would split the text at every ";".
while(NOT template STREQUAL "")
  string(FIND "${template}" "\n" eol)
  if(eol EQUAL -1)
    set(line "${template}")
    set(template "")
  else()
    string(SUBSTRING "${template}" 0 ${eol} line)
    math(EXPR rest "${eol} + 1")
    string(SUBSTRING "${template}" ${rest} -1 template)
  endif()
  if(line MATCHES "^@(windows|linux|end)$")
    set(section ${CMAKE_MATCH_1})
    if(section STREQUAL "end")
      set(section all)
    endif()
  elseif(line MATCHES "^@")
    message(FATAL_ERROR "${INPUT}: unknown marker line '${line}'")
  elseif(section STREQUAL "all" OR section STREQUAL PLATFORM)
    string(APPEND text "${line}\n")
  endif()
endwhile()
if(PLATFORM STREQUAL "windows")
  string(REPLACE "\n" "\r\n" text "${text}")
endif()
file(WRITE "${OUTPUT}" "${text}")
