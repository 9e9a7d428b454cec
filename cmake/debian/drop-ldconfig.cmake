# Run by CPack on the package it built (CPACK_POST_BUILD_SCRIPTS). CPack gives any package with a
# shared library in a folder under /usr/lib a postinst and a postrm that call ldconfig, but
# libimglib.so is private: /usr/lib/redim is no folder the dynamic linker searches, redim finds
# the library through its run path. Debian wants no ldconfig there, nor maintainer scripts that
# do nothing, so those two are taken out again; any other script would be kept.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  foreach(script postinst postrm)
    set(file "${tree}/DEBIAN/${script}")
    if(EXISTS "${file}")
      file(READ "${file}" text)
      if(text MATCHES "^#!/bin/sh\n\nset -e\n\nif \\[ \"\\$1\" = \"[a-z]+\" \\]; then\n\tldconfig\nfi\n$")
        file(REMOVE "${file}")
      endif()
    endif()
  endforeach()
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${deb}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
