# What the first entry of packaging/changelog says, so that it is written in
# one place: LUMORA_RELEASE_DATE (YYYY-MM-DD, for the manual pages and the
# AppStream release) and LUMORA_MAINTAINER (the packages' maintainer). Its
# version must be the project's.
file(STRINGS "${PROJECT_SOURCE_DIR}/packaging/changelog" _head LIMIT_COUNT 1)
if(NOT _head MATCHES "^lumora \\(([^)]+)\\)" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog: its first entry is not for version ${PROJECT_VERSION}")
endif()
file(STRINGS "${PROJECT_SOURCE_DIR}/packaging/changelog" _trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT _trailer MATCHES "^ -- (.+>)  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: no maintainer and date in the first entry")
endif()
set(LUMORA_MAINTAINER "${CMAKE_MATCH_1}")
set(_day "${CMAKE_MATCH_2}")
set(_year "${CMAKE_MATCH_4}")
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months "${CMAKE_MATCH_3}" _month)
math(EXPR _month "${_month} + 1")
foreach(part _day _month)
  if(${part} LESS 10)
    set(${part} "0${${part}}")
  endif()
endforeach()
set(LUMORA_RELEASE_DATE "${_year}-${_month}-${_day}")
