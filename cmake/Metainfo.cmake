# Writes the AppStream metadata (src/app/tavrin.metainfo.xml.in) to output: the release is
# PROJECT_VERSION of TAVRIN_RELEASE_DATE, and the window's screenshot is listed when
# screenshot_url gives the web address it is published at (AppStream takes no other).
function(tavrin_write_metainfo output screenshot_url)
  set(TAVRIN_METAINFO_SCREENSHOTS "")
  if(screenshot_url)
    string(CONCAT TAVRIN_METAINFO_SCREENSHOTS
      "  <screenshots>\n"
      "    <screenshot type=\"default\">\n"
      "      <caption>A capture, its pictures shown as thumbnails</caption>\n"
      "      <caption xml:lang=\"zh-TW\">擷取中，圖片以縮圖顯示</caption>\n"
      "      <image type=\"source\" width=\"1200\" height=\"900\">${screenshot_url}</image>\n"
      "    </screenshot>\n"
      "  </screenshots>\n")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/src/app/tavrin.metainfo.xml.in ${output} @ONLY)
endfunction()
