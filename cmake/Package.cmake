# What a bundled build gives to others, as install() rules: the program, its two assets, the
# licence texts and, per platform, what starts it and a README. CPack packs the Linux build as a
# tarball and the Windows build as a zip; the web build's install tree is the web site.
set(assets assets/textures/text1.jpg assets/audio/test.mp3)
foreach(asset IN LISTS assets)
  get_filename_component(folder ${asset} DIRECTORY)
  install(FILES ${asset} DESTINATION ${folder})
endforeach()
install(DIRECTORY ${CMAKE_BINARY_DIR}/licenses/ DESTINATION licenses)

if(EMSCRIPTEN)
  # index.html, velmora.js and velmora.wasm side by side; the page fetches the assets as files.
  install(FILES web/index.html $<TARGET_FILE:velmora> $<TARGET_FILE_DIR:velmora>/velmora.wasm
          DESTINATION .)
  return()
endif()

if(WIN32)
  install(TARGETS velmora RUNTIME DESTINATION .)
  install(FILES scripts/dist/README-windows.txt DESTINATION . RENAME README.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME velmora-windows-x86_64)
else()
  # The launcher runs bin/velmora from its own folder, where the assets are.
  install(TARGETS velmora RUNTIME DESTINATION bin)
  install(PROGRAMS scripts/dist/velmora-launcher.sh DESTINATION . RENAME velmora)
  install(FILES scripts/dist/README-linux.txt DESTINATION . RENAME README.txt)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME velmora-linux-x86_64)
endif()
# One top-level folder named like the package, written to VELMORA_PACKAGES (the presets' dist/).
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
if(VELMORA_PACKAGES)
  set(CPACK_OUTPUT_FILE_PREFIX ${VELMORA_PACKAGES})
endif()
set(CPACK_PACKAGE_NAME Velmora)
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "A small real-time graphics demo")
include(CPack)
