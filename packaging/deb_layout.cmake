# Run by cpack -G DEB after the install into its staging folder and before the
# package is made (CPACK_PRE_BUILD_SCRIPTS): the places where Debian keeps
# things differ from the install tree's in three ways.
#  - The app-defaults files (QX_tarn, HyperHelp) are configuration, so they go
#    to /etc/X11/app-defaults (conffiles, listed in packaging/conffiles), where
#    the toolkit's own search path finds them.
#  - Manual pages and the changelog are compressed with gzip -9n (no name or
#    time stamp, so the same input gives the same package).
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(NOT EXISTS "${root}/usr/bin")
  message(FATAL_ERROR "deb_layout: no usr/bin in the staging folder ${root}")
endif()

set(app_defaults "${root}/usr/share/X11/app-defaults")
file(MAKE_DIRECTORY "${root}/etc/X11/app-defaults")
foreach(app_class QX_tarn HyperHelp)
  file(RENAME "${app_defaults}/${app_class}" "${root}/etc/X11/app-defaults/${app_class}")
endforeach()
# The folder held those files alone.
file(REMOVE_RECURSE "${root}/usr/share/X11")

find_program(GZIP gzip REQUIRED)
file(GLOB pages "${root}/usr/share/man/man1/*.1")
set(doc "${root}/usr/share/doc/qx-tarn")
file(RENAME "${doc}/changelog" "${doc}/changelog.Debian")
foreach(f ${pages} "${doc}/changelog.Debian")
  execute_process(COMMAND ${GZIP} -9nf "${f}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "deb_layout: gzip ${f} failed: ${rc}")
  endif()
endforeach()
