# Links target to Qt's D-Bus module and defines definition for it, where the Qt build has D-Bus
# (Debian's does; the static Windows build has no need of it). The desktop's file manager is
# reached over D-Bus to show a file in its folder.
function(tavrin_use_qt_dbus target definition)
  if(WIN32)
    return()
  endif()
  find_package(Qt6 QUIET COMPONENTS DBus)
  if(TARGET Qt6::DBus)
    target_link_libraries(${target} PRIVATE Qt6::DBus)
    target_compile_definitions(${target} PRIVATE ${definition})
  endif()
endfunction()
