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
set(inspector "${PREFIX}/bin/jet-inspect")
set(entry "${PREFIX}/share/applications/produkte-import.desktop")
set(icon "${PREFIX}/share/icons/hicolor/32x32/apps/produkte-import.png")
set(metainfo "${PREFIX}/share/metainfo/de.produkteimport.ProdukteImport.metainfo.xml")
set(man_pages "${PREFIX}/share/man/man1/produkte-import.1.gz"
              "${PREFIX}/share/man/man1/jet-inspect.1.gz")
foreach(f "${program}" "${inspector}" "${entry}" "${icon}" "${metainfo}" ${man_pages}
          "${PREFIX}/share/doc/produkte-import/copyright"
          "${PREFIX}/share/doc/produkte-import/changelog.gz")
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
foreach(p "${program}" "${inspector}")
  execute_process(COMMAND test -x "${p}" RESULT_VARIABLE executable)
  file(READ "${p}" magic LIMIT 4 HEX)
  if(NOT executable EQUAL 0 OR NOT magic STREQUAL "7f454c46")
    message(FATAL_ERROR "not an executable program: ${p}")
  endif()
endforeach()

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
# The metadata names the desktop entry and the programs, and carries no template marks.
file(READ "${metainfo}" meta)
foreach(part "<launchable type=\"desktop-id\">produkte-import.desktop</launchable>"
             "<binary>produkte-import</binary>" "<binary>jet-inspect</binary>")
  string(FIND "${meta}" "${part}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${metainfo} lacks ${part}")
  endif()
endforeach()
if(meta MATCHES "@[A-Z_]+@")
  message(FATAL_ERROR "${metainfo} holds an unfilled ${CMAKE_MATCH_0}")
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  execute_process(COMMAND "${APPSTREAMCLI}" validate --no-net "${metainfo}"
    RESULT_VARIABLE valid OUTPUT_VARIABLE said ERROR_VARIABLE said)
  if(NOT valid EQUAL 0)
    message(FATAL_ERROR "appstreamcli refuses ${metainfo}:\n${said}")
  endif()
endif()

# The man pages are well-formed for man(1): it renders them without a warning.
find_program(MAN man)
if(MAN)
  foreach(page ${man_pages})
    execute_process(COMMAND "${MAN}" --warnings -E UTF-8 -l "${page}"
      RESULT_VARIABLE shown OUTPUT_QUIET ERROR_VARIABLE warnings)
    if(NOT shown EQUAL 0 OR NOT warnings STREQUAL "")
      message(FATAL_ERROR "man finds faults in ${page}:\n${warnings}")
    endif()
  endforeach()
endif()

file(REMOVE_RECURSE "${PREFIX}")
message(STATUS "installed and checked: programs, desktop entry, icon, metadata, man pages")
