# Lists the project's symbols in writable data sections (bss, data, small
# data) of each library and fails when there are any, in an anonymous
# namespace too. Function-local statics (read-only tables built on first
# use, the temporary-name counter) and their guards are allowed, and so is
# thread-local data, which no two threads share.
set(found "")
foreach(library IN LISTS LIBRARIES)
  execute_process(COMMAND ${NM} -C --format=sysv ${library} OUTPUT_VARIABLE symbols
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${library}")
  endif()
  string(REPLACE ";" "," symbols "${symbols}")
  string(REPLACE "\n" ";" lines "${symbols}")
  foreach(line IN LISTS lines)
    # name | value | class | type | size | line | section
    if(NOT line MATCHES "^(lumora::[^|]*)\\|[^|]*\\|[^|]*\\|[^|]*\\|[^|]*\\|[^|]*\\|(.*)$")
      continue()
    endif()
    set(name "${CMAKE_MATCH_1}")
    string(STRIP "${CMAKE_MATCH_2}" section)
    # Code, read-only data and thread-local sections (.tbss, .tdata) pass.
    if(NOT section MATCHES "^\\.(bss|data|sbss|sdata)" OR section MATCHES "^\\.data\\.rel\\.ro")
      continue()
    endif()
    string(REPLACE "(anonymous namespace)::" "" bare "${name}")
    if(bare MATCHES "guard variable" OR bare MATCHES "\\)::")
      continue()
    endif()
    string(APPEND found "  ${library}: ${name} (${section})\n")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "Writable namespace-scope data in the core:\n${found}")
endif()
message(STATUS "No writable namespace-scope data in ${LIBRARIES}")
