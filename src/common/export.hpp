// Marks what the library exports: everything else is built hidden and stays internal.
//
// A program may define a function with the name of an exported one (a libcurl write
// callback called writefunction, a log_info of its own). In the shared library every call
// through an exported name may then land in the program's function, and in the archive a
// member defining the name clashes with it. So the library keeps two sets of names:
//
// - Faces, the public names, live only in src/FAMILY/faces/: one exported function per
//   file, named after it (faces/buf_size.cpp defines buf_size and nothing else), and the
//   family's exported cells in faces/FAMILY_cells.cpp. Each is an object, and an archive
//   member, of its own. A face carries a call across the C boundary to its core and
//   decides what comes of it: a core returns what went wrong (a broken check, a refusal,
//   a status) and never ends the process; only a face turns that into a fatal report, a
//   refusal or a status. The checks and messages themselves are the core's.
// - Cores, the internal names, are C++ functions in namespace qmrt (qmrt::memory::append,
//   qmrt::http::call_service), built hidden and declared in the family's headers. The
//   library's code calls cores and hands cores to libcurl; it never calls a face, and no
//   face calls another. An exported function's name in the library's code outside its
//   own face file is a fault (the package check finds any such call).
//
// The exported cells are meant to be shared with the program and are used by name.
#pragma once

// For the definitions of exported cells, declared with C linkage in the public headers.
#define QMRT_VISIBLE __attribute__((visibility("default")))
// For the C faces of the services.
#define QMRT_EXPORT extern "C" QMRT_VISIBLE
