# SPDX-License-Identifier: MIT
# The Windows build as a zip: one folder a user unpacks anywhere and starts
# glowlattice.exe from. Windows looks for SDL.dll beside the program first,
# and the program reads data/sprite01.bmp from its working folder, which a
# double-click makes the program's own.
get_filename_component(sdl_prefix "${SDL_INCLUDE_DIR}/../.." ABSOLUTE)
file(GLOB sdl_dsc "${sdl_prefix}/libsdl1.2_*.dsc")
if(NOT EXISTS "${sdl_prefix}/bin/SDL.dll" OR NOT sdl_dsc)
  message(FATAL_ERROR "SDL.dll and its source's description not found under ${sdl_prefix}: "
    "build SDL with tools/sdlmingw.sh")
endif()
string(REGEX REPLACE ".*/libsdl1\\.2_(.*)\\.dsc$" "\\1" sdl_source_version "${sdl_dsc}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

install(TARGETS glowlattice RUNTIME DESTINATION .)
install(FILES data/sprite01.bmp DESTINATION data)
install(FILES ${sdl_prefix}/bin/SDL.dll ${CMAKE_CURRENT_BINARY_DIR}/README.txt
  ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)
install(FILES ${sdl_prefix}/COPYING.SDL DESTINATION . RENAME COPYING-SDL.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME glowlattice)
set(CPACK_PACKAGE_FILE_NAME glowlattice-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
# The folders' modes as the files' are, whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
