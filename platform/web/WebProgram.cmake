# The demo as a page: zephyra.js + zephyra.wasm beside the page's own files
# (platform/web/shell) in ${CMAKE_BINARY_DIR}/web, a folder any static web
# server can serve.
#
# - GL: emcc's fixed-function emulation on WebGL 1, made through EGL.
# - ASYNCIFY: the shell's loop blocks (peek, Sleep(1)) and the message box
#   waits for a click; ASYNCIFY lets those calls hand the page back to the
#   browser and resume where they were, so the shell runs unchanged.
# - MAIN_MODULE=2: the sound library is a side module loaded with dlopen;
#   the program exports what that module imports (given by soundlib/).
set(zephyra_web_exports _main)
if(ZEPHYRA_BASSMOD_HOST_EXPORTS)
  list(APPEND zephyra_web_exports ${ZEPHYRA_BASSMOD_HOST_EXPORTS})
endif()
list(REMOVE_DUPLICATES zephyra_web_exports)
list(JOIN zephyra_web_exports "," zephyra_web_export_list)
set_target_properties(zephyra PROPERTIES SUFFIX ".js" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/web)
target_link_options(zephyra PRIVATE
  -sLEGACY_GL_EMULATION=1 -sGL_FFP_ONLY=1 -lEGL -lGL
  -sASYNCIFY=1 -sASYNCIFY_STACK_SIZE=65536
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=33554432
  -sENVIRONMENT=web -sMAIN_MODULE=2
  "-sEXPORTED_FUNCTIONS=${zephyra_web_export_list}"
  "-sEXPORTED_RUNTIME_METHODS=FS,addRunDependency,removeRunDependency,UTF8ToString"
  ${ZEPHYRA_BASSMOD_HOST_LINK_OPTIONS})
# The page's own files, copied on every build.
file(GLOB zephyra_web_shell_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/web/shell/*)
add_custom_target(zephyra_web_page ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/web
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${zephyra_web_shell_files} ${CMAKE_BINARY_DIR}/web
  COMMENT "The page's files into ${CMAKE_BINARY_DIR}/web")
add_dependencies(zephyra zephyra_web_page)
