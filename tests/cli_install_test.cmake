# Installs the build into a scratch prefix and checks what a shell user
# of vellumshaper-cli finds there: the program, its manual page (which
# man renders without a warning and finds by name) and the completions of
# bash, zsh and fish, each where its shell looks, each offering what it
# should.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<scratch> -DSOURCE_DIR=<source>
#         -DVERSION=<x.y.z.w> -P cli_install_test.cmake
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

set(program ${PREFIX}/bin/vellumshaper-cli)
if(NOT EXISTS ${program})
  fail("no bin/vellumshaper-cli")
endif()

# The manual page: rendered by man without a warning from it or groff,
# with the build's version, and found by name with the prefix's bin on
# the PATH.
set(page ${PREFIX}/share/man/man1/vellumshaper-cli.1)
find_program(man man)
if(NOT EXISTS ${page})
  fail("no manual page at share/man/man1/vellumshaper-cli.1")
elseif(NOT man)
  fail("no man to read the manual page with")
else()
  set(ENV{MANWIDTH} 80)
  set(ENV{MANPAGER} cat)
  set(ENV{LC_ALL} C.UTF-8)
  execute_process(COMMAND ${man} --warnings -l ${page}
    RESULT_VARIABLE result OUTPUT_VARIABLE shown ERROR_VARIABLE said)
  if(NOT result EQUAL 0 OR NOT said STREQUAL "")
    fail("man -l warns about the manual page: ${said}")
  endif()
  if(NOT shown MATCHES "Vellumshaper ${VERSION}" OR
     NOT shown MATCHES "--code-page=N")
    fail("the manual page does not render as expected:\n${shown}")
  endif()
  # As a user finds it: man looks beside each folder of the PATH.
  unset(ENV{MANPATH})
  set(ENV{PATH} "${PREFIX}/bin:$ENV{PATH}")
  execute_process(COMMAND ${man} -w vellumshaper-cli
    RESULT_VARIABLE result OUTPUT_VARIABLE found ERROR_QUIET
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0 OR NOT found STREQUAL page)
    fail("man vellumshaper-cli does not find ${page}: ${found}")
  endif()
endif()

# A scratch folder to complete in: two folders and a file, which a
# BASE_DIR is not.
set(scratch ${PREFIX}/complete_here)
file(MAKE_DIRECTORY ${scratch}/src ${scratch}/site)
file(TOUCH ${scratch}/script)

# `shell_command` run in the scratch folder prints what is offered, one a
# line; `want` is that list, sorted.
function(expect_offered shell_name want)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${scratch}
    RESULT_VARIABLE result OUTPUT_VARIABLE got ERROR_VARIABLE said)
  string(REGEX REPLACE "\t[^\n]*" "" got "${got}")  # fish's descriptions
  string(REGEX REPLACE "\n$" "" got "${got}")
  string(REPLACE "\n" ";" got "${got}")
  list(SORT got)
  if(NOT result EQUAL 0 OR NOT "${got}" STREQUAL "${want}")
    set(failures "${failures}\n  ${shell_name}: ${ARGN}\n    offers '${got}', \
not '${want}' ${said}" PARENT_SCOPE)
  endif()
endfunction()

set(bash_file ${PREFIX}/share/bash-completion/completions/vellumshaper-cli)
find_program(bash bash)
if(NOT EXISTS ${bash_file})
  fail("no bash completion at share/bash-completion/completions")
elseif(NOT EXISTS /usr/share/bash-completion/bash_completion)
  fail("no bash-completion package to try the bash completion with")
else()
  set(complete ${bash} ${SOURCE_DIR}/tests/bash_complete.sh ${bash_file})
  expect_offered(bash "--code-page=;--color=" ${complete} "vellumshaper-cli --co")
  expect_offered(bash "always;auto" ${complete} "vellumshaper-cli -n --color=a")
  expect_offered(bash "always;auto;never" ${complete} "vellumshaper-cli --color ")
  expect_offered(bash "932;936" ${complete} "vellumshaper-cli --code-page=93")
  expect_offered(bash "site;src" ${complete} "vellumshaper-cli -f x s")
endif()

set(zsh_file ${PREFIX}/share/zsh/site-functions/_vellumshaper-cli)
find_program(zsh zsh)
if(NOT EXISTS ${zsh_file})
  fail("no zsh completion at share/zsh/site-functions")
elseif(NOT zsh)
  fail("no zsh to check the zsh completion with")
else()
  file(STRINGS ${zsh_file} first LIMIT_COUNT 1)
  if(NOT first STREQUAL "#compdef vellumshaper-cli")
    fail("the zsh completion does not start with #compdef")
  endif()
  execute_process(COMMAND ${zsh} -n ${zsh_file}
    RESULT_VARIABLE result ERROR_VARIABLE said)
  if(NOT result EQUAL 0)
    fail("zsh cannot read its completion: ${said}")
  endif()
endif()

set(fish_file
    ${PREFIX}/share/fish/vendor_completions.d/vellumshaper-cli.fish)
find_program(fish fish)
if(NOT EXISTS ${fish_file})
  fail("no fish completion at share/fish/vendor_completions.d")
elseif(NOT fish)
  fail("no fish to try the fish completion with")
else()
  macro(fish_offers want line)
    # A newline between the commands: a ';' would split CMake's list.
    expect_offered(fish "${want}" ${fish} --no-config -c
      "source ${fish_file}\ncomplete -C '${line}'")
  endmacro()
  fish_offers("--code-page;--color" "vellumshaper-cli --co")
  fish_offers("--color=always;--color=auto;--color=never"
              "vellumshaper-cli --color=")
  fish_offers("site/;src/" "vellumshaper-cli -n s")
endif()

if(failures)
  message(FATAL_ERROR "The install into ${PREFIX} falls short:${failures}")
endif()
