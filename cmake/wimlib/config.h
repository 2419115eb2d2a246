/* What wimlib's configure script would find for a MinGW-w64 target (i686 or
 * x86_64), written once so that the library builds from our CMake tree without
 * autotools. The Windows build has no ntfs-3g, no FUSE and no POSIX *at() calls. */
#ifndef VREL_WIMLIB_CONFIG_H
#define VREL_WIMLIB_CONFIG_H

#define PACKAGE "wimlib"
#define PACKAGE_NAME "wimlib"
#define PACKAGE_VERSION "1.14.5"
#define PACKAGE_STRING "wimlib 1.14.5"
#define PACKAGE_BUGREPORT "https://wimlib.net/forums/"
#define VERSION "1.14.5"

/* Headers MinGW-w64 provides among those configure looks for. */
#define HAVE_ERRNO_H 1
#define HAVE_STDARG_H 1
#define HAVE_STDDEF_H 1
#define HAVE_STDLIB_H 1
#define HAVE_SYS_FILE_H 1
#define HAVE_TIME_H 1
#define HAVE_UTIME_H 1

#endif
