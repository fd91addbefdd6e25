# Script mode: the man page of patchkit, made by help2man from its --help, with each command's
# --help as a section of its own. The usage lines at the head of the program's --help are left
# out of its description: help2man would take them for a list of options.
#   cmake -DPATCHKIT=... -DWORK=... -DOUTPUT=.../patchkit.1.gz -DSTUBS=/usr/share/... -P ManPage.cmake
foreach(variable PATCHKIT WORK OUTPUT STUBS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "ManPage.cmake: ${variable} is not set")
  endif()
endforeach()
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)

# A command's help, as roff text shown as it is.
function(help_as_roff out)
  execute_process(COMMAND ${PATCHKIT} ${ARGN} --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "patchkit ${ARGN} --help failed: ${result}")
  endif()
  string(REPLACE "\\" "\\e" help "${help}")
  # A line starting with [ would open a section of help2man's include file.
  string(REGEX REPLACE "(^|\n)([.'[])" "\\1\\\\&\\2" help "${help}")
  set(${out} "${help}" PARENT_SCOPE)
endfunction()

# The commands, as the program's --help lists them.
execute_process(COMMAND ${PATCHKIT} --help OUTPUT_VARIABLE program RESULT_VARIABLE result)
string(FIND "${program}" "\nSubcommands:\n" listed)
if(NOT result EQUAL 0 OR listed EQUAL -1)
  message(FATAL_ERROR "patchkit --help lists no commands: ${result}")
endif()
string(SUBSTRING "${program}" ${listed} -1 program)
string(REGEX MATCHALL "\n  [a-z]+ " lines "${program}")
set(commands)
foreach(line IN LISTS lines)
  string(STRIP "${line}" command)
  list(APPEND commands ${command})
endforeach()

file(MAKE_DIRECTORY ${WORK}/bin)
# help2man runs the program it describes, named as the page is; this one hides the usage lines.
file(WRITE ${WORK}/bin/patchkit
     "#!/bin/sh\n'${PATCHKIT}' \"$@\" | sed '/^usage: patchkit /,/^$/d'\n")
file(CHMOD ${WORK}/bin/patchkit PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(include "[COMMANDS]\n")
foreach(command IN LISTS commands)
  help_as_roff(help ${command})
  string(APPEND include ".SS ${command}\n.nf\n${help}\n.fi\n")
endforeach()
string(APPEND include "[FILES]\n.TP\n.I ${STUBS}/win32/QRTManualPatch.exe\n"
       "The 32-bit updater, the stub to ship: it runs on every Windows.\n"
       ".TP\n.I ${STUBS}/win64/QRTManualPatch.exe\n"
       "The same updater as a 64-bit program.\n")
file(WRITE ${WORK}/patchkit.h2m "${include}")

get_filename_component(page ${OUTPUT} NAME_WLE)
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 --include=${WORK}/patchkit.h2m
          "--name=build, inspect, sign and apply update packages for QRTManualPatch.exe"
          --output=${WORK}/${page} ${WORK}/bin/patchkit
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man failed: ${result}")
endif()
# -n: no name or time in the header, so the same page gives the same bytes.
execute_process(COMMAND ${GZIP} -9nf ${WORK}/${page} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed: ${result}")
endif()
file(RENAME ${WORK}/${page}.gz ${OUTPUT})
