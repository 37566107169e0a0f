# Linux: X11, Wayland, ALSA, PulseAudio and PipeWire, each loaded from the system at run time.
set(platform_arguments -DCMAKE_POSITION_INDEPENDENT_CODE=ON)
set(platform_sdl_arguments
    -DSDL_X11=ON -DSDL_WAYLAND=ON -DSDL_WAYLAND_LIBDECOR=ON -DSDL_ALSA=ON -DSDL_PULSEAUDIO=ON
    -DSDL_PIPEWIRE=ON -DSDL_DEPS_SHARED=ON -DSDL_JACK=OFF -DSDL_SNDIO=OFF -DSDL_KMSDRM=OFF
    -DSDL_LIBURING=OFF -DSDL_IBUS=OFF -DSDL_LIBUDEV=OFF -DSDL_FRIBIDI=OFF -DSDL_LIBTHAI=OFF)
# SDL 3.4.14 ends the process on BadWindow when the window manager destroys a window's frame while
# SDL translates a ConfigureNotify against it (typically as the window closes); upstream fixed this
# after 3.4.14 by making that error non-fatal, which this patch does the same way.
set(platform_sdl_patch
    PATCH_COMMAND git apply ${CMAKE_CURRENT_LIST_DIR}/sdl-x11-configure-badwindow.patch)
