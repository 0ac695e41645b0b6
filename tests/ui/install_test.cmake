# Installs the build into a scratch prefix and checks that every file a
# desktop needs is in its place.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<scratch> -DVERSION=<x.y.z.w>
#         -P install_test.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${PREFIX})
set(ENV{DESTDIR} "")
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(failures "")
macro(fail what)
  string(APPEND failures "\n  ${what}")
endmacro()

# The programs: executable files in the ELF format.
foreach(program vellumshaper vellumshaper-cli)
  set(path ${PREFIX}/bin/${program})
  execute_process(COMMAND test -f ${path} -a -x ${path} RESULT_VARIABLE result)
  if(result EQUAL 0)
    file(READ ${path} magic LIMIT 4 HEX)
  endif()
  if(NOT result EQUAL 0 OR NOT magic STREQUAL "7f454c46")
    fail("bin/${program} is not an executable program")
  endif()
endforeach()

# The icon at each size: a PNG image whose header (its signature, then
# the width and height of 4 bytes each) gives that size.
foreach(size_and_hex 16:00000010 32:00000020)
  string(REPLACE ":" ";" size_and_hex ${size_and_hex})
  list(GET size_and_hex 0 size)
  list(GET size_and_hex 1 hex)
  set(icon ${PREFIX}/share/icons/hicolor/${size}x${size}/apps/vellumshaper.png)
  set(header "")
  if(EXISTS ${icon})
    file(READ ${icon} header LIMIT 24 HEX)
  endif()
  if(NOT header MATCHES "^89504e470d0a1a0a0000000d49484452${hex}${hex}$")
    fail("no ${size} x ${size} PNG icon at ${icon}")
  endif()
endforeach()

# The desktop entry: the program, its name, icon, category and version,
# in a form the desktop's own validator accepts (the entry's Version is
# the version of the desktop entry standard it follows).
set(entry ${PREFIX}/share/applications/vellumshaper.desktop)
if(NOT EXISTS ${entry})
  fail("no desktop entry")
else()
  file(STRINGS ${entry} lines)
  list(GET lines 0 group)
  if(NOT group STREQUAL "[Desktop Entry]")
    fail("the desktop entry does not start with [Desktop Entry]")
  endif()
  foreach(line
      "Type=Application" "Version=1.0" "Name=Vellumshaper"
      "Exec=vellumshaper"
      "Icon=vellumshaper" "Categories=Utility;"
      "X-Vellumshaper-Version=${VERSION}")
    if(NOT line IN_LIST lines)
      fail("the desktop entry lacks ${line}")
    endif()
  endforeach()
  find_program(validator desktop-file-validate)
  if(NOT validator)
    fail("no desktop-file-validate to check the desktop entry with")
  else()
    execute_process(COMMAND ${validator} ${entry}
      RESULT_VARIABLE result OUTPUT_VARIABLE said ERROR_VARIABLE said)
    if(NOT result EQUAL 0 OR NOT said STREQUAL "")
      fail("desktop-file-validate rejects the desktop entry: ${said}")
    endif()
  endif()
endif()

# The help document, and the page that leads to each dialog's section.
foreach(page vellumshaper vellumshaper-20066 vellumshaper-20064)
  if(NOT EXISTS ${PREFIX}/share/doc/vellumshaper/${page}.html)
    fail("no help page ${page}.html")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "The install into ${PREFIX} is incomplete:${failures}")
endif()
