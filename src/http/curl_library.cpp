// libcurl, loaded by the first transfer of the process rather than with the library, and
// kept to the end of the process.
#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <string>

#include "http/curl_handles.hpp"
#include "http/http.hpp"

namespace qmrt::http {
namespace {

// The table is published once filled; the services are single-threaded, but the programs
// that call them need not be, and two first transfers must not fill it at once.
std::atomic<const CurlFunctions *> loaded{nullptr};
std::mutex loading;

// Read and changed under `loading`.
std::string &soname_cell() {
    static std::string soname = "libcurl.so.4";
    return soname;
}

template <typename Function>
bool find(Function &slot, const char *name) {
    slot = reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
    return slot != nullptr;
}

// libcurl joins the process's global scope and each function is found there, so the table
// binds as the dynamic linker binds a program linked with libcurl: a program that links
// libcurl itself shares its copy, and a definition that comes first in the process (the
// program's own, a preloaded one) is the one called.
bool fill(CurlFunctions &table) {
    void *library = dlopen(soname_cell().c_str(), RTLD_LAZY | RTLD_GLOBAL);
    if (library == nullptr) {
        dlerror();  // a program's own dlerror() must not report the library's attempt
        return false;
    }
    const bool found = find(table.global_init, "curl_global_init") &&
                       find(table.easy_init, "curl_easy_init") &&
                       find(table.easy_setopt, "curl_easy_setopt") &&
                       find(table.easy_perform, "curl_easy_perform") &&
                       find(table.easy_getinfo, "curl_easy_getinfo") &&
                       find(table.easy_strerror, "curl_easy_strerror") &&
                       find(table.easy_cleanup, "curl_easy_cleanup") &&
                       find(table.slist_append, "curl_slist_append") &&
                       find(table.slist_free_all, "curl_slist_free_all") &&
                       find(table.share_init, "curl_share_init") &&
                       find(table.share_setopt, "curl_share_setopt") &&
                       find(table.share_cleanup, "curl_share_cleanup");
    if (!found) {
        dlerror();
        dlclose(library);
    }
    return found;
}

}  // namespace

const CurlFunctions *load_curl() noexcept {
    if (const CurlFunctions *functions = loaded.load(std::memory_order_acquire)) return functions;
    const std::lock_guard lock(loading);
    static CurlFunctions table;
    if (loaded.load(std::memory_order_relaxed) == nullptr && fill(table))
        loaded.store(&table, std::memory_order_release);
    return loaded.load(std::memory_order_relaxed);
}

bool curl_loaded() noexcept {
    return loaded.load(std::memory_order_acquire) != nullptr;
}

const CurlFunctions &libcurl() noexcept {
    return *loaded.load(std::memory_order_acquire);
}

void set_curl_soname(std::string name) {
    const std::lock_guard lock(loading);
    soname_cell() = std::move(name);
}

}  // namespace qmrt::http
