# With a static Qt (the Windows build's), plugins are linked into each program instead of loaded
# at run time. Qt links the default platform plugin by itself; this adds the offscreen platform,
# on which the test suites run and which `-platform offscreen` selects.
function(tavrin_link_static_qt_plugins target)
  # The plugins' targets are defined where Qt's Gui module is looked up.
  find_package(Qt6 REQUIRED COMPONENTS Gui)
  get_target_property(core_type Qt6::Core TYPE)
  if(core_type STREQUAL "STATIC_LIBRARY")
    qt_import_plugins(${target} INCLUDE Qt6::QOffscreenIntegrationPlugin)
  endif()
endfunction()
