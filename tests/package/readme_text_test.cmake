# The read-me that Help shows, one per platform from the one template: each tells what its own
# platform needs and mentions none of the other platform's paths, and the build carries its
# platform's text beside the executable.
#   cmake -DSOURCE=<source tree> -DBUILT=<build>/bin/Readme.txt -DWORK=<folder> -P readme_text_test.cmake
set(failures 0)
macro(fail text)
  message(SEND_ERROR "${text}")
  math(EXPR failures "${failures} + 1")
endmacro()

file(MAKE_DIRECTORY "${WORK}")
foreach(platform windows linux)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DPLATFORM=${platform} -DINPUT=${SOURCE}/resources/Readme.txt.in
            -DOUTPUT=${WORK}/Readme-${platform}.txt -P ${SOURCE}/cmake/readme.cmake
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    fail("the ${platform} read-me was not written")
  endif()
  file(READ "${WORK}/Readme-${platform}.txt" ${platform})
endforeach()

# What each text must tell, exactly as the user will look for it.
set(windows_needs
  "HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay"
  "%LOCALAPPDATA%\\Programs\\KelvoRelay\\kelvorelay.log"
  "KelvoRelay-<version>-setup.exe"
  "allow KelvoRelay on private networks when Windows asks, or inbound UDP 8442"
  "Start KelvoRelay when I sign in"
  "/AUTOSTART=1"
  "kelvorelay --autostart on"
  "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
  "Remove my settings")
set(linux_needs
  "$XDG_CONFIG_HOME/Marlowin/KelvoRelay.reg"
  "$XDG_STATE_HOME/Marlowin/kelvorelay.log"
  "systemctl --user enable --now kelvorelay"
  "/usr/lib/systemd/user/kelvorelay.service"
  "closing the window ends KelvoRelay"
  "kelvorelay --autostart on"
  "$XDG_CONFIG_HOME/autostart/com.marlowin.KelvoRelay.desktop")
# The other platform's paths and ways.
set(windows_never "XDG_" "~/" "/usr" ".config" ".local" "systemd" ".desktop" "$HOME" "SIGHUP"
                  ".reg")
set(linux_never "HKEY_" "%LOCALAPPDATA%" "\\" ".exe" "Windows" "Task Manager" "Command Prompt"
                "setup" "firewall")
foreach(platform windows linux)
  foreach(text IN LISTS ${platform}_needs)
    string(FIND "${${platform}}" "${text}" at)
    if(at EQUAL -1)
      fail("the ${platform} read-me does not say '${text}'")
    endif()
  endforeach()
  foreach(text IN LISTS ${platform}_never)
    string(FIND "${${platform}}" "${text}" at)
    if(NOT at EQUAL -1)
      fail("the ${platform} read-me mentions '${text}'")
    endif()
  endforeach()
  if("${${platform}}" MATCHES "(^|\n)@")
    fail("the ${platform} read-me kept a marker line")
  endif()
endforeach()
# Line ends, seen in the bytes (a text read drops the CRs).
file(READ "${WORK}/Readme-windows.txt" bytes HEX)
string(REGEX MATCHALL "0a" lf "${bytes}")
string(REGEX MATCHALL "0d0a" crlf "${bytes}")
list(LENGTH lf lf)
list(LENGTH crlf crlf)
if(NOT lf EQUAL crlf)
  fail("the windows read-me has ${lf} line ends, ${crlf} of them CR LF")
endif()
file(READ "${WORK}/Readme-linux.txt" bytes HEX)
if(bytes MATCHES "0d")
  fail("the linux read-me has CR line ends")
endif()

file(READ "${BUILT}" built)
if(NOT built STREQUAL linux)
  fail("${BUILT} is not the linux read-me")
endif()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} failed")
endif()
message(STATUS "both read-mes: all checks passed")
