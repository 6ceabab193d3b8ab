# The logic layers must stay free of any desktop toolkit or accessibility
# backend so they run unchanged on every platform and in tests. Each portable
# library declares itself here; the build fails if one of its sources includes
# a platform header.
set(TOVRIN_PLATFORM_INCLUDE_REGEX
    "#[ \t]*include[ \t]*[<\"](atspi/|at-spi|X11/|Q[A-Za-z]+[>/]|gio/|glib|dbus/)")

function(tovrin_portable_library target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  file(GLOB headers "${dir}/*.h")
  foreach(src IN LISTS sources headers)
    if(NOT IS_ABSOLUTE "${src}")
      set(src "${dir}/${src}")
    endif()
    file(STRINGS "${src}" hits REGEX "${TOVRIN_PLATFORM_INCLUDE_REGEX}")
    if(hits)
      message(FATAL_ERROR "${src}: portable library ${target} includes a platform header: ${hits}")
    endif()
  endforeach()
endfunction()
