# Makes one manual page with help2man from a program's own --help and the page's include file (the
# sections --help does not give), in the C locale and dated by SOURCE_DATE_EPOCH. Three
# subsections of --help are sections of their own on a manual page: "Commands:" becomes COMMANDS,
# "Records:" RECORDS (a plain paragraph) and "Exit codes:" EXIT STATUS. Hyphenation is off: the pages are full of paths and names.
#   cmake -DHELP2MAN=... -DPROGRAM=... -DINCLUDE=... -DVERSION=... -DEPOCH=... -DOUTPUT=...
#         -P help2man.cmake
set(ENV{LC_ALL} C)
set(ENV{LANGUAGE} "")
set(ENV{SOURCE_DATE_EPOCH} "${EPOCH}")
execute_process(
  COMMAND "${HELP2MAN}" --no-info --section=1 "--version-string=${VERSION}"
          "--include=${INCLUDE}" "${PROGRAM}"
  OUTPUT_VARIABLE page
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man ${PROGRAM} failed (${status})")
endif()

string(REPLACE "\n.SS \"Commands:\"\n" "\n.SH COMMANDS\n" page "${page}")
string(REPLACE "\n.SS \"Records:\"\n.IP\n" "\n.SH RECORDS\n" page "${page}")
string(REPLACE "\n.SS \"Exit codes:\"\n" "\n.SH \"EXIT STATUS\"\n" page "${page}")
if(NOT page MATCHES "\n\\.SH \"EXIT STATUS\"\n")
  message(FATAL_ERROR "${PROGRAM} --help gives no \"Exit codes:\"")
endif()
string(REGEX REPLACE "\n(\\.TH [^\n]*\n)" "\n\\1.nh\n" page "${page}")
file(WRITE "${OUTPUT}" "${page}")
