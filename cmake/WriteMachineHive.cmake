# cmake -DOUT=<file> -DINSTALL_PATH=<folder> -P WriteMachineHive.cmake
# Writes the machine hive that tells the programs where they are installed.
file(WRITE ${OUT} "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarvik\\Folvex2]\n\"InstallPath\"=\"${INSTALL_PATH}\"\n\n")
