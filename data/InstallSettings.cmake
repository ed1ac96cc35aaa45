# Install step for the machine-wide lumora.ini: the folders it names are only
# known once the install prefix is (cmake --install --prefix P), so the
# template is filled here rather than at configure time.
# Expects LUMORA_INI_TEMPLATE and LUMORA_SHARE_DIR (absolute, or relative to
# the install prefix) to be set by the calling install(CODE).
set(_share "${LUMORA_SHARE_DIR}")
if(NOT IS_ABSOLUTE "${_share}")
  set(_share "${CMAKE_INSTALL_PREFIX}/${_share}")
endif()
# A relative prefix is taken from the folder the install runs in; the settings
# file must name folders that stay valid wherever the program starts.
get_filename_component(_share "${_share}" ABSOLUTE)
set(LUMORA_DATABASE_FOLDER "${_share}/Database")
set(LUMORA_MEASUREMENTS_FOLDER "${_share}/Measurements")
set(_target "$ENV{DESTDIR}${_share}/lumora.ini")
message(STATUS "Installing: ${_target}")
configure_file("${LUMORA_INI_TEMPLATE}" "${_target}" @ONLY)
