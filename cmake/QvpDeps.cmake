# Finds every dependency; a missing one stops the configure with the
# Debian package that provides it.

function(qvp_missing what package)
  message(FATAL_ERROR
    "${what} not found. Install it with: apt-get install ${package} "
    "(or run scripts/setup, which installs everything the build needs)")
endfunction()

find_package(PkgConfig)
if(NOT PkgConfig_FOUND)
  qvp_missing("pkg-config" "pkg-config")
endif()

set(OpenGL_GL_PREFERENCE GLVND)
find_package(OpenGL COMPONENTS OpenGL EGL)
if(NOT TARGET OpenGL::OpenGL)
  qvp_missing("OpenGL (libOpenGL)" "libgl-dev")
endif()
if(NOT TARGET OpenGL::EGL)
  qvp_missing("EGL" "libegl-dev")
endif()
if(NOT TARGET OpenGL::GLU)
  qvp_missing("GLU" "libglu1-mesa-dev")
endif()

pkg_check_modules(TCL IMPORTED_TARGET tcl8.6)
if(NOT TCL_FOUND)
  qvp_missing("Tcl 8.6" "tcl8.6-dev")
endif()

find_package(Freetype)
if(NOT FREETYPE_FOUND)
  qvp_missing("FreeType" "libfreetype-dev")
endif()

find_package(PNG)
if(NOT PNG_FOUND)
  qvp_missing("libpng" "libpng-dev")
endif()

# Text is shaped by HarfBuzz and put in display order by FriBidi.
pkg_check_modules(HARFBUZZ IMPORTED_TARGET harfbuzz)
if(NOT HARFBUZZ_FOUND)
  qvp_missing("HarfBuzz" "libharfbuzz-dev")
endif()
pkg_check_modules(FRIBIDI IMPORTED_TARGET fribidi)
if(NOT FRIBIDI_FOUND)
  qvp_missing("FriBidi" "libfribidi-dev")
endif()

# Cluster mode talks to Redis through hiredis.
pkg_check_modules(HIREDIS IMPORTED_TARGET hiredis)
if(NOT HIREDIS_FOUND)
  qvp_missing("hiredis" "libhiredis-dev")
endif()

# The viewer's live window (qvp_viewer -window) talks to an X server.
find_package(X11)
if(NOT X11_FOUND)
  qvp_missing("Xlib" "libx11-dev")
endif()

pkg_check_modules(AVFORMAT IMPORTED_TARGET libavformat)
if(NOT AVFORMAT_FOUND)
  qvp_missing("FFmpeg libavformat" "libavformat-dev")
endif()
pkg_check_modules(AVCODEC IMPORTED_TARGET libavcodec)
if(NOT AVCODEC_FOUND)
  qvp_missing("FFmpeg libavcodec" "libavcodec-dev")
endif()
pkg_check_modules(SWSCALE IMPORTED_TARGET libswscale)
if(NOT SWSCALE_FOUND)
  qvp_missing("FFmpeg libswscale" "libswscale-dev")
endif()
pkg_check_modules(AVUTIL IMPORTED_TARGET libavutil)
if(NOT AVUTIL_FOUND)
  qvp_missing("FFmpeg libavutil" "libavutil-dev")
endif()

find_package(Threads REQUIRED)

if(QVP_BUILD_TESTS)
  find_package(GTest)
  if(NOT GTest_FOUND)
    qvp_missing("GoogleTest" "libgtest-dev")
  endif()
endif()
if(QVP_BUILD_BENCH)
  find_package(benchmark)
  if(NOT benchmark_FOUND)
    qvp_missing("Google Benchmark" "libbenchmark-dev")
  endif()
endif()

# The default font of the canvas builder.
set(QVP_DEFAULT_FONT "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")
if(NOT EXISTS ${QVP_DEFAULT_FONT})
  qvp_missing("DejaVu Sans (${QVP_DEFAULT_FONT})" "fonts-dejavu-core")
endif()
