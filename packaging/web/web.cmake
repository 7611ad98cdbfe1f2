# SPDX-License-Identifier: MIT
# The web page: the same program built by Emscripten, on its own SDL 1.2
# interface and its emulation of OpenGL 1.x over WebGL, with the sprite
# packed beside it.
set(GLOWLATTICE_WEB_SPRITE ${PROJECT_SOURCE_DIR}/data/sprite01.bmp CACHE FILEPATH
  "The sprite packed with the page as data/sprite01.bmp")
add_executable(glowlattice src/shell/main.cpp src/shell/input.cpp src/render/scene.cpp
  src/render/page.cpp)
set_target_properties(glowlattice PROPERTIES SUFFIX .html)
target_link_libraries(glowlattice PRIVATE cloud)
glowlattice_options(glowlattice)
target_compile_options(glowlattice PRIVATE -sUSE_SDL=1)
# The main loop hands the browser its thread after every frame
# (asynchronously resumed); Quit's exit is honoured and shown by the page.
# Older Emscripten's HTML minifier breaks on the page. The program allocates
# next to nothing: Emscripten's small allocator (2 KB less, gzip'd).
target_link_options(glowlattice PRIVATE -sUSE_SDL=1 -sLEGACY_GL_EMULATION=1 -sGL_FFP_ONLY=1
  -sASYNCIFY=1 -sEXIT_RUNTIME=1 -sENVIRONMENT=web -sMINIFY_HTML=0 -sMALLOC=emmalloc
  --shell-file ${CMAKE_CURRENT_BINARY_DIR}/shell.html
  --preload-file ${GLOWLATTICE_WEB_SPRITE}@data/sprite01.bmp --use-preload-plugins)
set_property(TARGET glowlattice APPEND PROPERTY LINK_DEPENDS
  ${CMAKE_CURRENT_BINARY_DIR}/shell.html ${GLOWLATTICE_WEB_SPRITE})
# The page goes out without the shell's comments and indentation, which are
# for whoever reads the source (a third of its size); made again when the
# shell changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/shell.html)
execute_process(COMMAND sed -E -e "\\%^ *//%d" -e "\\%^ */[*].*[*]/$%d" -e "\\%^ */[*]%,\\%[*]/$%d"
  -e "s% +// .*%%" -e "s%^ +%%"
  INPUT_FILE ${CMAKE_CURRENT_LIST_DIR}/shell.html OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/shell.html
  COMMAND_ERROR_IS_FATAL ANY)

# The folder (tools/web.sh zips it): the page as the folder's index.
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/glowlattice.html DESTINATION . RENAME index.html)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/glowlattice.js ${CMAKE_CURRENT_BINARY_DIR}/glowlattice.wasm
  ${CMAKE_CURRENT_BINARY_DIR}/glowlattice.data LICENSE DESTINATION .)
