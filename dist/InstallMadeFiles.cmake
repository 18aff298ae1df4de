# Run by `cmake --install` and by CPack: the installed files whose content or place depends on the
# prefix, or that are compressed on the way. They are written straight into their place, never
# into the build folder, so that root's `make install` leaves no file of root's there; each is
# listed in the install manifest like any other installed file.
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(root "$ENV{DESTDIR}${prefix}")
set(TORVANE_PROGRAM "${prefix}/${TORVANE_BINDIR}/torvane")
set(TORVANE_DATA "${prefix}/${TORVANE_DATADIR}/torvane")

# Debian's packages and the system prefixes put user units under lib/; systemd looks for a
# user's own (~/.local) under share/ only.
if(prefix STREQUAL "/usr" OR prefix STREQUAL "/usr/local")
  set(unit_dir lib/systemd/user)
else()
  set(unit_dir ${TORVANE_DATADIR}/systemd/user)
endif()

# The manifest names files without DESTDIR, as for every other installed file.
macro(torvane_made path)
  message(STATUS "Installing: ${root}/${path}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${prefix}/${path}")
endmacro()

macro(torvane_configured source path)
  configure_file("${TORVANE_DIST}/${source}" "${root}/${path}" @ONLY)
  torvane_made(${path})
endmacro()

# gzip -n keeps no name nor time in the file, so the same source gives the same bytes.
macro(torvane_compressed source path)
  get_filename_component(folder "${root}/${path}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  execute_process(COMMAND gzip -9nc "${source}" OUTPUT_FILE "${root}/${path}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip could not compress ${source}")
  endif()
  torvane_made(${path})
endmacro()

torvane_configured(torvane.desktop.in ${TORVANE_DATADIR}/applications/torvane.desktop)
torvane_configured(torvane-autostart.desktop.in ${TORVANE_DATADIR}/torvane/torvane-autostart.desktop)
torvane_configured(torvane.service.in ${unit_dir}/torvane.service)

foreach(page torvane mylaps-sim ostrak-sim)
  torvane_compressed("${TORVANE_DIST}/${page}.1" ${TORVANE_MANDIR}/man1/${page}.1.gz)
endforeach()
torvane_compressed("${TORVANE_CHANGELOG}" ${TORVANE_DATADIR}/doc/torvane/changelog.gz)
