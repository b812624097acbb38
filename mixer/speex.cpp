#include "speex.h"

#include <atomic>
#include <mutex>

namespace qrv {

namespace {

std::once_flag g_checkOnce;
std::atomic<bool> g_loaded{false};

} // namespace

bool LoadSpeexLibraries(std::string* error)
{
    std::call_once(g_checkOnce, [] {
        bool answered = true;
        for (int mode : {SPEEX_MODEID_NB, SPEEX_MODEID_WB, SPEEX_MODEID_UWB})
            answered = answered && speex_lib_get_mode(mode) != nullptr;
        g_loaded = answered;
    });
    if (!g_loaded && error != nullptr)
        *error = std::string("Error: libspeex (") + SpeexLibraryName + ") could not be loaded !!";
    return g_loaded;
}

bool SpeexLibrariesLoaded()
{
    return g_loaded;
}

} // namespace qrv
