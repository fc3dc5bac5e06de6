# cmake -DOUT=<file> -DINSTALL_PATH=<folder> [-DSYSTEM_ROOT=<folder>] -P WriteMachineHive.cmake
# Writes the machine hive that tells the programs where they are installed (and, when given, where the Windows
# folder with the spool folder is; without it each user gets one under $XDG_DATA_HOME/Folvex2/Windows).
function(reg_quote out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

reg_quote(_install "${INSTALL_PATH}")
set(_text "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarvik\\Folvex2]\n\"InstallPath\"=${_install}\n\n")
if(SYSTEM_ROOT)
  reg_quote(_root "${SYSTEM_ROOT}")
  string(APPEND _text "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\n\"SystemRoot\"=${_root}\n\n")
endif()
file(WRITE ${OUT} "${_text}")
