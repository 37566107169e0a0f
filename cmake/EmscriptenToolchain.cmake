# Emscripten's own CMake toolchain file, wherever the installed Emscripten keeps it (em-config
# knows): for the web preset and the web build of SDL (cmake/bundled-sdl/web.cmake).
find_program(VELMORA_EM_CONFIG em-config REQUIRED)
execute_process(COMMAND ${VELMORA_EM_CONFIG} EMSCRIPTEN_ROOT
                OUTPUT_VARIABLE velmora_emscripten_root OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
include(${velmora_emscripten_root}/cmake/Modules/Platform/Emscripten.cmake)
