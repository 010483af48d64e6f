# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the posix thread model, so that the
# standard library's threads and mutexes exist). Programs are linked statically, so that Wine or a
# bare Windows runs them without any MinGW DLL beside them, and CTest runs them through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVRIN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVRIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRIN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAVRIN_MINGW_TRIPLET})
# The static Qt for MinGW (scripts/build-qt-mingw.sh) when the window is built; its moc, rcc and
# uic are the build machine's own, of the same version.
if(TAVRIN_QT_MINGW_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TAVRIN_QT_MINGW_PREFIX})
  list(APPEND CMAKE_PREFIX_PATH ${TAVRIN_QT_MINGW_PREFIX})
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
# The static SQLite for MinGW (scripts/build-sqlite-mingw.sh): include/sqlite3.h and
# lib/libsqlite3.a, which FindSQLite3 finds there and links into every program.
if(TAVRIN_SQLITE_MINGW_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TAVRIN_SQLITE_MINGW_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# The static zlib (libz.a rather than the import library libz.dll.a), for the same reason.
set(ZLIB_USE_STATIC_LIBS ON)

# pkg-config must describe the MinGW libraries only, never the build machine's Linux ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${TAVRIN_MINGW_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

find_program(TAVRIN_WINE wine)
if(TAVRIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVRIN_WINE})
endif()
