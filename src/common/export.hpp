// Marks what the library exports: everything else is built hidden and stays internal.
#pragma once

// For the definitions of exported cells, declared with C linkage in the public headers.
#define QMRT_VISIBLE __attribute__((visibility("default")))
// For the C faces of the services.
#define QMRT_EXPORT extern "C" QMRT_VISIBLE
