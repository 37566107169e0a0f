# Windows, cross-compiled with the toolchain file this build was configured with: Win32 video
# with WGL, WASAPI and DirectSound audio (and the disk writer), all through DLLs that Windows
# ships; no XInput (the joystick subsystem is off).
if(NOT CMAKE_TOOLCHAIN_FILE)
  message(FATAL_ERROR "The Windows build of SDL needs -DCMAKE_TOOLCHAIN_FILE (cmake/toolchains)")
endif()
set(platform_arguments -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE})
set(platform_sdl_arguments -DSDL_DIRECTX=ON -DSDL_WASAPI=ON -DSDL_XINPUT=OFF -DSDL_OPENGLES=OFF)
