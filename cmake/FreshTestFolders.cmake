# cmake -DDIRS=<dir>|<dir>... -P FreshTestFolders.cmake
# Empties each test program's private folders and creates them again (the runtime folder private to the user).
string(REPLACE "|" ";" _dirs "${DIRS}")
foreach(_d ${_dirs})
  file(REMOVE_RECURSE ${_d})
  file(MAKE_DIRECTORY ${_d}/registry ${_d}/tmp ${_d}/run ${_d}/config ${_d}/data)
  file(CHMOD ${_d}/run DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()
