# Delay-import libraries: the stub binds only KERNEL32 and ADVAPI32 (and the C runtime) when it is
# loaded; every other system library is loaded on first call, after the entry routine has narrowed
# the DLL search to the system directory. dlltool makes the libraries from the exports that the
# toolchain's own import libraries list.
set(TESSEL_DELAY_DIR ${CMAKE_BINARY_DIR}/delayload)
file(MAKE_DIRECTORY ${TESSEL_DELAY_DIR})
set(TESSEL_DELAY_LIBS)
foreach(pair user32:user32.dll gdi32:gdi32.dll shell32:shell32.dll comctl32:comctl32.dll shlwapi:shlwapi.dll
             ole32:ole32.dll oleaut32:oleaut32.dll)
  string(REPLACE ":" ";" parts ${pair})
  list(GET parts 0 lib)
  list(GET parts 1 dll)
  set(out ${TESSEL_DELAY_DIR}/lib${lib}_delay.a)
  if(NOT EXISTS ${out})
    execute_process(COMMAND ${TESSEL_MINGW_PREFIX}-nm /usr/${TESSEL_MINGW_PREFIX}/lib/lib${lib}.a
                    OUTPUT_VARIABLE symbols ERROR_QUIET)
    string(REGEX MATCHALL "I __imp_[^\n]+" imports "${symbols}")
    set(def "LIBRARY ${dll}\nEXPORTS\n")
    set(seen)
    foreach(imp ${imports})
      string(REGEX REPLACE "^I __imp_" "" name "${imp}")
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(REGEX REPLACE "^_" "" name "${name}")  # i686 decorates C names with a leading underscore
      endif()
      list(FIND seen "${name}" at)
      if(at EQUAL -1)
        list(APPEND seen "${name}")
        string(APPEND def "${name}\n")
      endif()
    endforeach()
    file(WRITE ${TESSEL_DELAY_DIR}/${lib}.def "${def}")
    set(kill)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(kill --kill-at)
    endif()
    execute_process(COMMAND ${TESSEL_MINGW_PREFIX}-dlltool --input-def ${TESSEL_DELAY_DIR}/${lib}.def
                            --output-delaylib ${out} --dllname ${dll} ${kill}
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "dlltool could not make ${out}")
    endif()
  endif()
  list(APPEND TESSEL_DELAY_LIBS ${out})
endforeach()
