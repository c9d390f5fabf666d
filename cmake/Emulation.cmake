# kelta_runnable(<var> <target>): a path by which another program (a test that starts
# qm880ctl or qm880-sim, help2man) runs the program of <target>. That is the program
# itself, except in a cross build whose programs run under an emulator (qemu-user for
# arm64): without binfmt_misc the system cannot start a foreign program, so the path is
# a script that starts it under the emulator (signals sent to the script's process reach
# the program: the script replaces itself with the emulator).
function(kelta_runnable var target)
  if(NOT CMAKE_CROSSCOMPILING OR WIN32 OR NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(${var} $<TARGET_FILE:${target}> PARENT_SCOPE)
    return()
  endif()
  set(script ${CMAKE_BINARY_DIR}/emulated/${target})
  get_property(done GLOBAL PROPERTY kelta_runnable_${target})
  if(NOT done)
    set_property(GLOBAL PROPERTY kelta_runnable_${target} ON)
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
    file(GENERATE OUTPUT ${script}
      CONTENT "#!/bin/sh\nexec ${emulator} '$<TARGET_FILE:${target}>' \"$@\"\n"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                       WORLD_READ WORLD_EXECUTE)
  endif()
  set(${var} ${script} PARENT_SCOPE)
endfunction()
