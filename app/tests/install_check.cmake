# Installs the program into a scratch prefix and checks what a desktop needs finds its place.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DSOURCE_DIR=... -P install_check.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
          --component produkte_import
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(program "${PREFIX}/bin/produkte-import")
set(entry "${PREFIX}/share/applications/produkte-import.desktop")
set(icon "${PREFIX}/share/icons/hicolor/32x32/apps/produkte-import.png")
foreach(f "${program}" "${entry}" "${icon}")
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
execute_process(COMMAND test -x "${program}" RESULT_VARIABLE executable)
file(READ "${program}" magic LIMIT 4 HEX)
if(NOT executable EQUAL 0 OR NOT magic STREQUAL "7f454c46")
  message(FATAL_ERROR "not an executable program: ${program}")
endif()

file(READ "${entry}" text)
foreach(line "[Desktop Entry]" "Type=Application" "Name=Produkte Import" "Exec=produkte-import"
             "Icon=produkte-import")
  string(FIND "${text}" "${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${entry} lacks the line ${line}")
  endif()
endforeach()

file(SHA256 "${icon}" installed)
file(SHA256 "${SOURCE_DIR}/app/icons/produkte-import.png" committed)
if(NOT installed STREQUAL committed)
  message(FATAL_ERROR "the installed icon differs from app/icons/produkte-import.png")
endif()

find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND "${VALIDATE}" "${entry}" RESULT_VARIABLE valid)
  if(NOT valid EQUAL 0)
    message(FATAL_ERROR "desktop-file-validate refuses ${entry}")
  endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
message(STATUS "installed and checked: program, desktop entry, icon")
